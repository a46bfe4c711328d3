// The rules that enable and disable the main-tab buttons and the number menu from the session
// state: A identification succeeded, B it failed, C port closed, D port settings changed with no
// controller number yet, E port settings changed with a number known.
#pragma once

class QAction;
class QWidget;

namespace velmar::ui {

enum class EnablingRule { A, B, C, D, E };

// Applies `rule` to the controls named in the rule table found under `page` (the main tab) and
// to `menuChangeNumTrk` when given. In demo mode rule A leaves bReadTemper alone.
void ApplyEnablingRule(EnablingRule rule, QWidget* page, QAction* menuChangeNumTrk, bool demoMode);

} // namespace velmar::ui
