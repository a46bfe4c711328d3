#include "data/temp_table_calc.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

TEST(TempTable, DataSheetExample) {
    TempTableRows rows{};
    ASSERT_EQ(ComputeTempTable(10, 3950, 25, rows), TempCalcResult::Ok);
    EXPECT_EQ(rows[0].degrees, -50);
    EXPECT_NEAR(rows[0].resistanceKOhm, 863.1, 0.05);
    EXPECT_EQ(rows[0].adc, 11);
    EXPECT_EQ(FormatTempAdc(rows[0].adc), "B");
    EXPECT_EQ(rows[19].degrees, 26);
    EXPECT_NEAR(rows[19].resistanceKOhm, 9.566, 0.0005);
    EXPECT_EQ(rows[19].adc, 523);
    EXPECT_EQ(FormatTempAdc(rows[19].adc), "20B");
    EXPECT_EQ(rows[38].degrees, 102);
    EXPECT_NEAR(rows[38].resistanceKOhm, 0.6576, 0.00005);
    EXPECT_EQ(rows[38].adc, 960);
    EXPECT_EQ(FormatTempAdc(rows[38].adc), "3C0");
    // The resistance falls as the temperature rises, so the readings rise.
    for (size_t k = 1; k < rows.size(); ++k) EXPECT_GT(rows[k].adc, rows[k - 1].adc);

    const TempTable table = TempTableFromRows(rows);
    EXPECT_EQ(table.Entry(19), 523);
    EXPECT_EQ(table.Bytes()[38], 0x0B); // entry 19, low byte first
    EXPECT_EQ(table.Bytes()[39], 0x02);
}

TEST(TempTable, NominalTemperatureAndBadInput) {
    TempTableRows rows{};
    rows[0].adc = 77;
    EXPECT_EQ(ComputeTempTable(10, 3950, 0, rows), TempCalcResult::Ok);
    rows[0].adc = 77;
    EXPECT_EQ(ComputeTempTable(10, 3950, -273, rows), TempCalcResult::BadTemperature);
    EXPECT_EQ(ComputeTempTable(10, 3950, -300, rows), TempCalcResult::BadTemperature);
    EXPECT_EQ(ComputeTempTable(0, 3950, 25, rows), TempCalcResult::BadInput); // would be 0 / 0
    EXPECT_EQ(rows[0].adc, 77);                                               // untouched

    // Extreme B constants saturate instead of producing undefined readings.
    ASSERT_EQ(ComputeTempTable(10, 1e9, 25, rows), TempCalcResult::Ok);
    EXPECT_EQ(rows[0].adc, 0);
    EXPECT_EQ(rows[38].adc, 1024);
}

TEST(TempTable, FieldTexts) {
    double v = 0;
    EXPECT_TRUE(ParseThermistorNumber("10", v));
    EXPECT_DOUBLE_EQ(v, 10);
    EXPECT_TRUE(ParseThermistorNumber("2,5", v));
    EXPECT_DOUBLE_EQ(v, 2.5);
    EXPECT_TRUE(ParseThermistorNumber("2.25", v));
    EXPECT_DOUBLE_EQ(v, 2.25);
    EXPECT_TRUE(ParseThermistorNumber("-300", v)); // pasted; the computation refuses it
    EXPECT_DOUBLE_EQ(v, -300);
    EXPECT_FALSE(ParseThermistorNumber("", v));
    EXPECT_FALSE(ParseThermistorNumber(",", v));
    EXPECT_FALSE(ParseThermistorNumber("1,2,3", v));
    EXPECT_FALSE(ParseThermistorNumber("1e5", v));
    EXPECT_EQ(FormatTempResistance(9.5), "9,5");
    EXPECT_EQ(FormatTempResistance(10), "10");
}

} // namespace
} // namespace velmar
