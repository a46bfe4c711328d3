#include "ui/dialogs/about_box.h"

#include "ui_about_box.h"

namespace velmar::ui {

TfAbout::TfAbout(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TfAbout>()) {
    ui_->setupUi(this);
    ui_->lTitle->setText(QStringLiteral("Программа настройки контроллеров v2.2"));
    ui_->lContacts->setText(
        QStringLiteral("Настройка контроллеров топливораздаточных колонок по линии RS-485.\n"
                       "Вопросы и пожелания направляйте в службу поддержки Velmar."));
    // Links open in the system's browser and mail program.
    ui_->lLinkSite->setText(
        QStringLiteral("<a href=\"https://velmar.example/\">https://velmar.example/</a>"));
    ui_->lLinkMail->setText(
        QStringLiteral("<a href=\"mailto:support@velmar.example\">support@velmar.example</a>"));
    connect(ui_->bOk, &QPushButton::clicked, this, &QDialog::accept);
}

TfAbout::~TfAbout() = default;

} // namespace velmar::ui
