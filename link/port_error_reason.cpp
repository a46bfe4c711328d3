// Texts an engineer can act on for the failure codes of OpenPort and ConfigurePort.
#include "link/serial_port.h"

#include <cerrno>

namespace velmar {

const char* PortErrorReason(int code) {
    switch (code) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "нет такого устройства";
    case EACCES:
    case EPERM:
        return "нет доступа к устройству (добавьте пользователя в группу dialout)";
    case EBUSY:
        return "порт занят другой программой";
    case EINVAL:
        return "устройство не принимает эти параметры линии";
    case ENAMETOOLONG:
        return "слишком длинное имя порта";
    case -1:
        return "конвертер не найден";
    case -2:
        return "конвертер не ответил или у него нет такого канала";
    case -3:
        return "конвертер не сообщил число каналов";
    case kPortConverterRequestFailed:
        return "конвертер не принял параметры линии";
    default:
        return "";
    }
}

} // namespace velmar
