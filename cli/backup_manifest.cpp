#include "cli/backup_manifest.h"

#include "base/atomic_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace velmar::cli {

std::string LocalTime(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

namespace {
constexpr size_t kManifestMaxBytes = 1 << 20;
constexpr int kManifestVersion = 1;
} // namespace

Json ManifestToJson(const BackupManifest& m) {
    Json list = Json::array();
    for (const BackupEntry& e : m.controllers) {
        Json item = {{"number", e.number}, {"ident", e.ident}};
        if (e.saved) {
            item["status"] = "saved";
            item["file"] = e.file;
            item["size"] = e.size;
            item["sha256"] = e.sha256;
        } else {
            item["status"] = e.unreached ? "unreached" : "failed";
            item["reason"] = e.reason;
        }
        item["time"] = e.time;
        if (!e.started.empty()) item["started"] = e.started;
        if (!e.finished.empty()) item["finished"] = e.finished;
        item["retries"] = e.retries;
        item["confirmed_by_rereading"] = e.reread;
        list.push_back(std::move(item));
    }
    Json doc = {{"version", kManifestVersion},
                {"port", m.port},
                {"created", m.created},
                {"sequence", m.sequence},
                {"folder", m.folder},
                {"first", m.first},
                {"last", m.last},
                {"controllers", std::move(list)}};
    if (m.journal.Present())
        doc["journal"] = {{"path", m.journal.path},
                          {"source", m.journal.source},
                          {"host", m.journal.host},
                          {"entries", m.journal.entries},
                          {"head", m.journal.head}};
    return doc;
}

bool WriteManifest(const std::string& dir, const BackupManifest& manifest, std::string& error) {
    const std::string text =
        ManifestToJson(manifest).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    std::string why;
    if (WriteFileAtomically(dir + "/" + kManifestName,
                            reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                            &why) != 0) {
        error = "Список копий " + dir + "/" + kManifestName + " не записан: " + why;
        return false;
    }
    return true;
}

bool ReadManifest(const std::string& dir, BackupManifest& manifest, std::string& error) {
    const std::string path = dir + "/" + kManifestName;
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(path, bytes, kManifestMaxBytes) != FileReadResult::Read) {
        error = "Не удалось прочитать список копий " + path;
        return false;
    }
    const Json doc = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
    try {
        if (doc.is_discarded() || !doc.is_object()) throw std::invalid_argument("not an object");
        manifest = {};
        manifest.port = doc.value("port", "");
        manifest.created = doc.value("created", "");
        manifest.folder = doc.value("folder", "");
        manifest.sequence = doc.value("sequence", int64_t{0});
        if (const auto j = doc.find("journal"); j != doc.end() && j->is_object()) {
            manifest.journal.path = j->value("path", "");
            manifest.journal.source = j->at("source").get<std::string>();
            manifest.journal.host = j->value("host", "");
            manifest.journal.entries = j->at("entries").get<int64_t>();
            manifest.journal.head = j->at("head").get<std::string>();
            if (manifest.journal.entries < 0) throw std::invalid_argument("entries");
        }
        manifest.first = doc.at("first").get<int>();
        manifest.last = doc.at("last").get<int>();
        for (const Json& item : doc.at("controllers")) {
            BackupEntry e;
            // Read wide: a number beyond the int range must not wrap into a valid one.
            const auto number = item.at("number").get<int64_t>();
            if (!item.at("number").is_number_integer() || number < 1 || number > 255)
                throw std::invalid_argument("number");
            e.number = static_cast<int>(number);
            e.ident = item.value("ident", "");
            const auto status = item.at("status").get<std::string>();
            e.saved = status == "saved";
            e.unreached = status == "unreached";
            e.time = item.value("time", "");
            e.started = item.value("started", "");
            e.finished = item.value("finished", "");
            e.retries = item.value("retries", 0);
            e.reread = item.value("confirmed_by_rereading", false);
            if (e.saved) {
                e.file = item.at("file").get<std::string>();
                const auto size = item.at("size").get<int64_t>();
                if (size < 0 || size > (1 << 20)) throw std::invalid_argument("size");
                e.size = static_cast<int>(size);
                e.sha256 = item.at("sha256").get<std::string>();
                // The file must lie in the backup directory itself.
                if (e.file.empty() || e.file.find('/') != std::string::npos || e.file == "." ||
                    e.file == "..")
                    throw std::invalid_argument("file name");
            } else {
                e.reason = item.value("reason", "");
            }
            manifest.controllers.push_back(std::move(e));
        }
    } catch (const std::exception&) {
        error = "Список копий " + path + " поврежден";
        return false;
    }
    return true;
}

// "2026-12-08T03:00:05+03:00" (or Z, or no zone: local) as the journal's UTC text.
std::string UtcOfManifestTime(const std::string& text) {
    std::tm tm{};
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &consumed) != 6)
        return {};
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const std::string zone = text.substr(static_cast<size_t>(consumed));
    std::time_t t = 0;
    if (zone.empty()) {
        tm.tm_isdst = -1;
        t = std::mktime(&tm);
    } else {
        t = timegm(&tm);
        int hours = 0, minutes = 0;
        if (zone != "Z" && std::sscanf(zone.c_str() + 1, "%2d:%2d", &hours, &minutes) >= 1) {
            if (zone.find(':') == std::string::npos && zone.size() == 5) {
                hours = std::atoi(zone.substr(1, 2).c_str());
                minutes = std::atoi(zone.substr(3, 2).c_str());
            }
            const int offset = (hours * 60 + minutes) * 60;
            t -= zone[0] == '-' ? -offset : offset;
        }
    }
    std::tm utc{};
    gmtime_r(&t, &utc);
    char out[32];
    std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return out;
}

std::string LineName(const std::string& port) {
    const std::string dev = "/dev/";
    return port.rfind(dev, 0) == 0 ? port.substr(dev.size()) : port;
}

bool SameLine(const std::string& a, const std::string& b) {
    return LineName(a) == LineName(b);
}

std::string OtherLineRefusal(const BackupManifest& manifest, const std::string& dir,
                             const std::string& port) {
    if (manifest.port.empty())
        return "В копии " + dir + " не указана линия, на которой она сделана";
    if (SameLine(manifest.port, port)) return {};
    return "Копия " + dir + " сделана на линии " + manifest.port + ", а не на " + port +
           ": это копии контроллеров другой линии";
}

std::string ImageLineRefusal(const std::string& imagePath, const std::string& port) {
    const size_t slash = imagePath.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : imagePath.substr(0, slash);
    const std::string file = slash == std::string::npos ? imagePath : imagePath.substr(slash + 1);
    if (::access((dir + "/" + kManifestName).c_str(), F_OK) != 0) return {};
    BackupManifest manifest;
    std::string error;
    if (!ReadManifest(dir, manifest, error))
        return error + ": неизвестно, с какой линии образ " + imagePath;
    const bool listed =
        std::any_of(manifest.controllers.begin(), manifest.controllers.end(),
                    [&](const BackupEntry& e) { return e.saved && e.file == file; });
    if (!listed) return {};
    return OtherLineRefusal(manifest, dir, port);
}

} // namespace velmar::cli
