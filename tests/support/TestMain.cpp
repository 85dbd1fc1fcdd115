// The main of every test binary: an offscreen QApplication in a temporary environment.
#include "support/TestEnv.h"

#include "app/CDocManager.h"
#include "base/UserMessage.h"

#include <QApplication>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <cstring>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            return RUN_ALL_TESTS(); // listing needs no application
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" TARVIK_TEST_SCREEN);
    TestEnv::Init();
    QApplication app(argc, argv);
    // A message box would wait for a click no test can give: record instead.
    UserMessage::SetHandler([](const QString &text, const QString &caption) {
        std::fprintf(stderr, "[message %s] %s\n", qPrintable(caption), qPrintable(text));
    });
    // Nor would the question whether to save a modified document: closing discards.
    CDocManager::SetSavePrompt(
        [](QWidget *, const QString &) { return int(QMessageBox::Discard); });
    return RUN_ALL_TESTS();
}
