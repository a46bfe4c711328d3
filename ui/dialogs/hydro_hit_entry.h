// Entering the hydraulic hit volume, in litres with a decimal comma ("0,25"), stored in hundredths
// of a litre: the key filter of its field, and its text both ways.
#pragma once

#include <QObject>
#include <QString>

namespace velmar::ui {

// Digits, the comma, Enter, Backspace and moving about; everything else typed is dropped.
class VolumeKeyFilter : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// "0,5" -> 50 hundredths (a further fraction is dropped); false for an empty or unreadable text
// or a value above 0,50.
bool ParseHydroHit(const QString& text, int& hundredths);
// The stored hundredths as the field shows them: "0,25", "0,5", "0".
QString HydroHitText(int hundredths);

} // namespace velmar::ui
