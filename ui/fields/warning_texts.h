// The warnings a page and a dialog both give: kept below both, so that neither includes the
// other.
#pragma once

namespace velmar::ui {

// The question before a parameter block moves the controller to a side-A number another
// controller already answers at: asked by the settings tab and by the image comparison.
inline constexpr const char* kAddressInUse = "                             ВНИМАНИЕ!\n\r"
                                             " Выбранный вами адрес уже используется!\n\r"
                                             " Если вы продолжите программирование, связь\n\r"
                                             "                      с этими ТРК пропадет!\n\r"
                                             "                    Вы хотите продолжить?";

// Why factory defaults are not offered while a saved image file stands in for the controller
// (the main tab's button and the defaults dialog). A saved image is one controller's backup:
// defaults would replace it whole, fiscal totalisers and all, and a backup is never lost by a
// click. They go into a controller or the demo image.
inline constexpr const char* kDefaultsNotForImageFile =
    "Заводские установки записываются в контроллер или в демонстрационный образ. Открытый файл "
    "образа - копия контроллера, и заводские установки его не заменяют: подключитесь к "
    "контроллеру.";

} // namespace velmar::ui
