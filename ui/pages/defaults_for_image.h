// Why factory defaults are not offered while a saved image file stands in for the controller.
#pragma once

namespace velmar::ui {

// A saved image is one controller's backup: defaults would replace it whole, fiscal totalisers
// and all, and a backup is never lost by a click. They go into a controller or the demo image.
inline constexpr const char* kDefaultsNotForImageFile =
    "Заводские установки записываются в контроллер или в демонстрационный образ. Открытый файл "
    "образа - копия контроллера, и заводские установки его не заменяют: подключитесь к "
    "контроллеру.";

} // namespace velmar::ui
