// The question before a parameter block moves the controller to a side-A number another
// controller already answers at: asked by the settings tab and by the image comparison.
#pragma once

namespace velmar::ui {

inline constexpr const char* kAddressInUse = "                             ВНИМАНИЕ!\n\r"
                                             " Выбранный вами адрес уже используется!\n\r"
                                             " Если вы продолжите программирование, связь\n\r"
                                             "                      с этими ТРК пропадет!\n\r"
                                             "                    Вы хотите продолжить?";

} // namespace velmar::ui
