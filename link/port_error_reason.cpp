// Texts an engineer can act on for the results of OpenPort and ConfigurePort.
#include "link/serial_port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velmar {

const char* SystemErrorReason(int err) {
    switch (err) {
    case 0:
        return "";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "нет такого устройства";
    case EISDIR:
        return "это каталог, а не порт";
    case EACCES:
    case EPERM:
        return "нет доступа к устройству (добавьте пользователя в группу dialout)";
    case EBUSY:
        return "порт занят другой программой";
    case EINVAL:
        return "устройство не принимает эти параметры линии";
    case ENOTTY:
        return "это не последовательный порт";
    case EIO:
        return "ошибка ввода-вывода устройства";
    case ECONNREFUSED:
        return "шлюз не принимает соединение (проверьте адрес и порт)";
    case ETIMEDOUT:
        return "шлюз не отвечает";
    case EHOSTUNREACH:
        return "шлюз недоступен в сети";
    case ENETUNREACH:
        return "нет пути к сети шлюза";
    case ENETDOWN:
        return "сеть этого компьютера не подключена";
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
        return "шлюз разорвал соединение";
    default: {
        // Rare causes still name themselves, so the engineer can look them up.
        thread_local char text[160];
        std::snprintf(text, sizeof text, "системная ошибка %d (%s)", err, std::strerror(err));
        return text;
    }
    }
}

const char* PortErrorReason(int result) {
    switch (result) {
    case kPortOk:
        return "";
    case kPortTableFull:
        return "открыто слишком много портов";
    case kPortNoSlot:
        return "порт не открыт";
    case kPortEmptyName:
        return "не указано имя порта";
    case kPortConverterRequestFailed:
        return "конвертер не принял параметры линии";
    case kPortSystemError:
        return SystemErrorReason(PortSystemError());
    case kPortNameTooLong:
        return "слишком длинное имя порта";
    case kPortBadNetworkName:
        return "сетевой порт задается как tcp:АДРЕС:ПОРТ или rfc2217:АДРЕС:ПОРТ (IPv6-адрес в "
               "квадратных скобках)";
    case kPortHostNotFound:
        return "адрес шлюза не найден в сети";
    case kPortGatewayRefused:
        return "шлюз отказался управлять линией по RFC 2217: включите на нем режим "
               "telnet(rfc2217) или задайте порт как tcp:АДРЕС:ПОРТ";
    case kPortGatewayNoAnswer:
        return "шлюз не ответил на согласование RFC 2217: если он передает байты как есть "
               "(raw), задайте порт как tcp:АДРЕС:ПОРТ";
    case kPortGatewayLineRefused:
        return "шлюз не установил на линии запрошенную скорость или формат";
    case kPortLayerNotStarted:
        return "порты не инициализированы";
    case kPortConverterNotFound:
        return "конвертер не найден";
    case kPortConverterNoAnswer:
        return "конвертер не ответил или у него нет такого канала";
    case kPortConverterNoChannelCount:
        return "конвертер не сообщил число каналов";
    default:
        return "неизвестная ошибка порта";
    }
}

} // namespace velmar
