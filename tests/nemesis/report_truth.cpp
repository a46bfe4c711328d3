#include "nemesis/report_truth.h"

#include "data/device_buffer.h"
#include "data/memory_store.h"
#include "data/report.h"

#include <set>
#include <sstream>

namespace velmar::test {

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The report of the memory with record `skip` (-1: none) left unread, as the tool leaves it.
std::vector<std::string> ReportWithout(int skip, std::vector<uint8_t> er, std::vector<uint8_t> ir,
                                       std::vector<uint8_t> im, int number) {
    MemoryRecordStore store(er, &ir, &im);
    DeviceBuffer buffer;
    for (int k = 0; k < kReportRecordCount; ++k)
        if (k != skip) ReadReportRecord(store, buffer, k);
    return ReportLines(buffer, number, false);
}

} // namespace

int UnreadCount(const std::string& err) {
    static const std::string kMark = "не считано записей - ";
    const size_t at = err.find(kMark);
    if (at == std::string::npos) return -1;
    return std::atoi(err.c_str() + at + kMark.size());
}

std::string CheckReport(const std::string& printed, bool failed, int unread,
                        const std::vector<uint8_t>& er, const std::vector<uint8_t>& ir,
                        const std::vector<uint8_t>& im, int number) {
    const std::vector<std::string> truth = ReportWithout(-1, er, ir, im, number);
    const std::vector<std::string> got = Lines(printed);
    if (got.size() != truth.size()) {
        if (failed) return {}; // stopped before its report: nothing printed is taken as values
        return "the report has " + std::to_string(got.size()) + " lines, the controller's " +
               std::to_string(truth.size());
    }
    std::vector<size_t> wrong;
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != truth[i]) wrong.push_back(i);
    if (wrong.empty()) return {};
    if (!failed)
        return "exit 0 with line " + std::to_string(wrong.front() + 1) + " wrong: \"" +
               got[wrong.front()] + "\", the controller holds \"" + truth[wrong.front()] + "\"";
    // Each wrong line must be a record left unread (its zeros), and no more records than named.
    std::vector<std::vector<std::string>> without;
    for (int k = 0; k < kReportRecordCount; ++k)
        without.push_back(ReportWithout(k, er, ir, im, number));
    std::set<int> lacking;
    for (const size_t i : wrong) {
        bool explained = false;
        for (int k = 0; k < kReportRecordCount && !explained; ++k) {
            if (without[static_cast<size_t>(k)][i] != got[i]) continue;
            lacking.insert(k);
            explained = true;
        }
        if (!explained)
            return "line " + std::to_string(i + 1) + " \"" + got[i] +
                   "\" is neither the controller's value nor an unread record's zeros";
    }
    if (unread < 0 || static_cast<int>(lacking.size()) > unread)
        return std::to_string(lacking.size()) + " records differ, the report names " +
               std::to_string(unread) + " as unread";
    return {};
}

} // namespace velmar::test
