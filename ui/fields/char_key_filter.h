// Lets through only the characters of one set (plus Enter, Backspace and keys that type
// nothing, such as arrows); every other typed character is discarded. Installed on edits and
// editable lists whose key filters admit more than the digits.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QWidget;

namespace velmar::ui {

class CharKeyFilter : public QObject {
    Q_OBJECT
  public:
    // Installs itself on `target` (owned by it). `accepted` lists the characters that pass.
    CharKeyFilter(QWidget* target, QString accepted);
    // Also called for every key the filter let through (for buttons that follow the typing).
    void SetOnAccepted(std::function<void()> onAccepted) { onAccepted_ = std::move(onAccepted); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QString accepted_;
    std::function<void()> onAccepted_;
};

inline const QString kDigits = QStringLiteral("0123456789");
inline const QString kHexDigits = QStringLiteral("0123456789ABCDEFabcdef");

} // namespace velmar::ui
