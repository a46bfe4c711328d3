// Every reason a profile is refused as it is read, each with the file, line and field it names;
// and that a profile without any of them is taken.
#include "data/ctrlr_params.h"
#include "data/profile.h"
#include "sim/core/bus_simulator.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmar {
namespace {

constexpr const char* kFile = "station.prf";
constexpr int kFieldLine = 4; // the line of the field in the profiles below
const std::string kParamsSection = "[Параметры контроллера]\n";
const std::string kSettsSection = "[Настройки канала 1]\n";

// The record sizes of the simulated controllers, as a profile names them.
std::vector<uint8_t> ControllerHeader() {
    std::vector<uint8_t> image = sim::Controller::MakeDefault(1)->ImageBytes();
    image.resize(len::kSizes);
    return image;
}

std::string SizesLine(const std::vector<uint8_t>& header, int paramsLength) {
    std::string line = std::string(kProfileSizesKey) + " = " + std::to_string(paramsLength);
    for (int i = 1; i < kProfileSizeCount; ++i)
        line += " " + std::to_string(header[static_cast<size_t>(kProfileSizeBytes[i])]);
    return line + "\n";
}

// A profile of one field on line kFieldLine.
std::string OneField(const std::string& section, const std::string& field, int paramsLength = 0) {
    const std::vector<uint8_t> header = ControllerHeader();
    return "# профиль\n" + SizesLine(header, paramsLength != 0 ? paramsLength : header[0]) +
           section + field + "\n";
}

struct Refusal {
    const char* what;
    std::string text;
    std::vector<std::string> confirmed;
    ProfileRefusal reason;
    int line;
    const char* field;
};

TEST(ProfileRefusal, EachReasonNamesFileLineAndField) {
    const std::string meterType = kMeterTypeTexts[1];
    const int otherParamsLength = params::kUsualLength + 2;
    const std::vector<Refusal> cases = {
        {"unknown field",
         OneField(kParamsSection, "Нет такого (NoSuchField) = 1"),
         {},
         ProfileRefusal::UnknownField,
         kFieldLine,
         "NoSuchField"},
        {"caption of another field",
         OneField(kParamsSection, "Пауза пуска, с (MetTOut) = 30"),
         {},
         ProfileRefusal::UnknownField,
         kFieldLine,
         "MetTOut"},
        {"checksum is not a field",
         OneField(kParamsSection, "КСМ (Ksm) = 12"),
         {},
         ProfileRefusal::UnknownField,
         kFieldLine,
         "Ksm"},
        {"unknown record",
         OneField("[Настройки чего-то]\n", "MetTOut = 30"),
         {},
         ProfileRefusal::UnknownField,
         kFieldLine - 1,
         ""},
        {"above the field's limit",
         OneField(kParamsSection, "Ожидание импульсов, с (MetTOut) = 256"),
         {},
         ProfileRefusal::BadValue,
         kFieldLine,
         "MetTOut"},
        {"above the entry limit",
         OneField(kParamsSection, "Пауза пуска, с (NozzleWait) = 100"),
         {},
         ProfileRefusal::BadValue,
         kFieldLine,
         "NozzleWait"},
        {"not a digit",
         OneField(kParamsSection, "MetTOut = 3O"),
         {},
         ProfileRefusal::BadValue,
         kFieldLine,
         "MetTOut"},
        {"not an item of the list",
         OneField(kParamsSection, "MeterType = 300 имп"),
         {"MeterType"},
         ProfileRefusal::BadValue,
         kFieldLine,
         "MeterType"},
        {"heating switch-on above zero",
         OneField(kParamsSection, "Temp_heat_low = 5"),
         {},
         ProfileRefusal::BadValue,
         kFieldLine,
         "Temp_heat_low"},
        {"metrological meter type",
         OneField(kParamsSection, "MeterType = " + meterType),
         {},
         ProfileRefusal::Metrological,
         kFieldLine,
         "MeterType"},
        {"metrological, another field confirmed",
         OneField(kParamsSection, "MeterType = " + meterType),
         {"PhaseMet"},
         ProfileRefusal::Metrological,
         kFieldLine,
         "MeterType"},
        {"metrological calibration",
         OneField(kSettsSection, "ImpLit = 256"),
         {},
         ProfileRefusal::Metrological,
         kFieldLine,
         "ImpLit"},
        {"field twice",
         OneField(kParamsSection, "MetTOut = 30\nMetTOut = 31"),
         {},
         ProfileRefusal::Syntax,
         kFieldLine + 1,
         "MetTOut"},
        {"no record sizes",
         "[Параметры контроллера]\nMetTOut = 30\n",
         {},
         ProfileRefusal::Syntax,
         0,
         ""},
        {"another family's sizes",
         OneField(kParamsSection, "MetTOut = 30", otherParamsLength),
         {},
         ProfileRefusal::OtherSizes,
         0,
         ""},
    };
    const std::vector<uint8_t> header = ControllerHeader();
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        ProfileReadOptions options;
        options.metrological = c.confirmed;
        Profile profile;
        ProfileError error;
        const bool taken = ParseProfile(c.text, kFile, options, profile, error) &&
                           CheckProfileSizes(profile, kFile, header.data(), error);
        ASSERT_FALSE(taken);
        EXPECT_EQ(error.reason, c.reason);
        EXPECT_EQ(error.file, kFile);
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(error.field, c.field);
        const std::string where =
            std::string(kFile) + (c.line > 0 ? ":" + std::to_string(c.line) : "") + ": ";
        EXPECT_EQ(ProfileErrorText(error).rfind(where, 0), 0U) << ProfileErrorText(error);
    }
}

TEST(ProfileRefusal, ConfirmedAndValidFieldsAreTaken) {
    // As an editor may save it: a byte order mark, and a line ending in CR LF.
    const std::string text =
        "\xEF\xBB\xBF# с меткой порядка байтов\r\n" +
        OneField(kParamsSection,
                 "Тип датчика (MeterType) = " + std::string(kMeterTypeTexts[1]) +
                     "\nОжидание импульсов, с (MetTOut) = 255\nTemp_heat_low = -5") +
        kSettsSection + "ImpLit = 256\n";
    ProfileReadOptions options;
    options.metrological = {"MeterType", "ImpLit"};
    Profile profile;
    ProfileError error;
    ASSERT_TRUE(ParseProfile(text, kFile, options, profile, error)) << ProfileErrorText(error);
    const std::vector<uint8_t> header = ControllerHeader();
    ASSERT_TRUE(CheckProfileSizes(profile, kFile, header.data(), error)) << ProfileErrorText(error);
    ASSERT_EQ(profile.entries.size(), 4U);
    EXPECT_EQ(profile.name, "station");
    // What a profile writes out reads back the same.
    Profile again;
    ASSERT_TRUE(ParseProfile(ProfileText(profile), kFile, options, again, error))
        << ProfileErrorText(error);
    ASSERT_EQ(again.entries.size(), profile.entries.size());
    for (size_t i = 0; i < again.entries.size(); ++i) {
        EXPECT_EQ(again.entries[i].field, profile.entries[i].field);
        EXPECT_EQ(again.entries[i].bits, profile.entries[i].bits);
    }
}

} // namespace
} // namespace velmar
