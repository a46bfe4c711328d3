#include "ui/fields/enabling_rules.h"

#include <QAction>
#include <QWidget>
#include <array>

namespace velmar::ui {

namespace {

// '+' enable, '-' disable, ' ' leave as it is; columns A B C D E.
struct RuleRow {
    const char* control;
    std::array<char, 5> states;
};

constexpr std::array<RuleRow, 12> kButtonRules{{
    {"bCallIdent", {'+', ' ', '-', '-', '+'}},
    {"bSimImp", {'+', '-', '-', '-', '+'}},
    {"bGlobalSet", {'+', '-', '-', '-', '+'}},
    {"bGlobalDefaultSet", {'+', '-', '-', '-', '+'}},
    {"bReset", {'+', '-', '-', '-', '+'}},
    {"bReservCall", {'+', ' ', '-', '+', '+'}},
    {"bSaveImage", {'+', '-', '-', '-', '+'}},
    {"bLoadImage", {'+', '-', '-', '-', '+'}},
    {"bIrValRead", {'+', '-', ' ', ' ', ' '}},
    {"bReadTemper", {'+', ' ', ' ', ' ', ' '}},
    {"bLoadFisk", {'+', '-', ' ', ' ', ' '}},
    {"bSaveParamToText", {'+', '-', ' ', ' ', ' '}},
}};
constexpr std::array<char, 5> kMenuChangeNumTrk{' ', ' ', '-', '+', '+'};

void Apply(char state, auto* control) {
    if (state == '+') control->setEnabled(true);
    if (state == '-') control->setEnabled(false);
}

} // namespace

void ApplyEnablingRule(EnablingRule rule, QWidget* page, QAction* menuChangeNumTrk, bool demoMode) {
    const auto column = static_cast<size_t>(rule);
    for (const RuleRow& row : kButtonRules) {
        if (rule == EnablingRule::A && demoMode && QLatin1String(row.control) == "bReadTemper")
            continue;
        if (QWidget* w = page->findChild<QWidget*>(QLatin1String(row.control)))
            Apply(row.states[column], w);
    }
    if (menuChangeNumTrk) Apply(kMenuChangeNumTrk[column], menuChangeNumTrk);
}

} // namespace velmar::ui
