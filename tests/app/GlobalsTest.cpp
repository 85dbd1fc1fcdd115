#include "app/Globals.h"

#include <gtest/gtest.h>

TEST(Globals, ResetPutsEveryValueBack)
{
    g_DocVersion = QStringLiteral("4.1A");
    g_MeterModel = QStringLiteral("500");
    g_DocKind = 2;
    g_ModbusEnabled = 1;
    editField = 7;
    ResetGlobals();
    EXPECT_TRUE(g_DocVersion.isEmpty());
    EXPECT_TRUE(g_MeterModel.isEmpty());
    EXPECT_EQ(g_DocKind, 1);
    EXPECT_EQ(g_ModbusEnabled, 0);
    EXPECT_EQ(editField, 0);
}
