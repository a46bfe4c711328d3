// The exchange log "port.out": every write, read, purge and failed write on the ports whose bit
// is set in the log mask, with a millisecond time stamp and the bytes in hexadecimal. Appended,
// Russian texts in code page 866, flushed after each entry.
#pragma once

#include "link/serial_port.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmar {

enum class LogEvent { Write, Read, Purge };

// File the next OpenExchangeLog uses (see SetExchangeLogPath).
std::string ExchangeLogPath();

void OpenExchangeLog(); // appends the start line
void CloseExchangeLog(uint32_t parityErrors, uint32_t frameErrors, bool writeShutdownLine);

void LogExchange(LogEvent event, int slot, const uint8_t* bytes, size_t count);
void LogWriteFailure(int slot, int code);
// One line of plain text (UTF-8) after the time stamp, for what the protocol notices about the
// exchanges: repeated requests, replies that failed their check. The caller checks the log mask.
void LogNote(const std::string& text);

// UTF-8 text (ASCII, Cyrillic and the numero sign) as code page 866 bytes; other characters
// become '?'.
std::string Utf8ToCp866(const char* text);

} // namespace velmar
