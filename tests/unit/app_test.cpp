#include <gtest/gtest.h>

#include <tuple>

#include "ProgressDlg.h"
#include "TestSupport.h"
#include "ZynUpdateApp.h"
#include "resource.h"

// Each row: the arguments; the home, mode, -AUTO, help file and help context they leave.
TEST(CommandLine, SwitchesMatchWholeValuesAreNotConsumedAndTheLastWins) {
    const std::string chm = "C:\\Prog\\ZynUpdate.chm";
    const std::pair<std::vector<std::string>, std::tuple<std::string, int, BOOL, std::string, int>> cases[] = {
        {{}, {"", 0, FALSE, chm, 0}},
        {{"-HOME", "D:\\CAD", "-AUTO"}, {"D:\\CAD", 0, TRUE, chm, 0}},
        {{"-7QV", "-HOME", "-DOVI"}, {"-DOVI", 1, FALSE, chm, 0}},  // the value is read and still a switch
        {{"-7QV", "-REVIT", "-HOME", "D:\\A", "-H"}, {"D:\\A", 3, FALSE, chm, 0}},  // "-H" at the end takes nothing
        {{"-HELP", "x.chm, 120", "-H", "y.chm,0"}, {"", 0, FALSE, "y.chm", 120}},  // a context of 0 keeps 120
        {{"-H", "x.chm,7", "-H", "z.chm,abc"}, {"", 0, FALSE, "z.chm", 7}},  // so does one of letters
    };
    for (const auto& [args, state] : cases) {
        CZynUpdateApp app;  // a fresh run state; the test program's own object returns afterwards
        app.SetHelpFilePath(chm);
        CCommandLine command;
        app.ParseCommandLine(args, command);
        const std::string help = app.m_pszHelpFilePath;
        EXPECT_EQ(std::tie(app.m_strHome, app.m_nMode, app.m_bAuto, help, command.nHelpContext), state)
            << testing::PrintToString(args);
    }
}

TEST(SplitFields, QuotesTrimmingAndDoubleByteCharacters) {
    using Fields = std::vector<std::string>;
    auto split = [](const std::string& text, char separator = ',', BOOL trim = TRUE) {
        Fields fields{"stale"};
        EXPECT_EQ(SplitFields(text, fields, separator, trim), 1);
        return fields;
    };
    EXPECT_EQ(split(""), Fields{});
    EXPECT_EQ(split(" a , b "), (Fields{"a", "b"}));
    EXPECT_EQ(split(" a ;b", ';', FALSE), (Fields{" a ", "b"}));
    EXPECT_EQ(split("x,\"a,b\",c"), (Fields{"x", "a,b", "c"}));
    EXPECT_EQ(split("x,\"say \"\"hi\"\"\",c"), (Fields{"x", "say \"hi\"", "c"}));
    EXPECT_EQ(split("\"\""), Fields{""});  // a quote that opens the text is an ordinary character, then trimmed
    // A lead byte (0x81-0x9F, 0xE0-0xFC) takes the next byte along, a comma too.
    EXPECT_EQ(split("\x81,\x9F,\xE0,\xFC,\x80,\xFD,x\x95"), (Fields{"\x81,\x9F,\xE0,\xFC,\x80", "\xFD", "x\x95"}));
}

namespace {
std::string ItemText(HWND dialog, int id) {
    char text[32] = "";
    ::GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}
}  // namespace

// Enter would press the focused Cancel button; Escape counts, and Cancel only raises the flag.
TEST(ProgressDialog, PercentWrapsAsTheBarAndCancelIsReadOnceEnterDoesNothing) {
    CProgressDlg dialog;
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(dialog.GetWindowText(), "処理中");
    const std::tuple<int, int, const char*> steps[] = {
        {100, 0, "0%"}, {100, 42, "42%"}, {100, 100, "100%"}, {100, 150, "50%"},
        {3, 1, "33%"},  {3, 2, "66%"},    {3, 3, "100%"},     {0, 0, "100%"}};  // an empty range changes nothing
    for (const auto& [upper, pos, percent] : steps) {
        dialog.SetRange(0, upper);
        dialog.SetPos(pos);
        EXPECT_EQ(ItemText(dialog.m_hWnd, IDC_PROGRESS_PERCENT), percent) << pos << " of " << upper;
    }
    dialog.SetRange(0, 100000);  // more steps than a 16-bit range holds
    dialog.SetPos(50000);
    EXPECT_EQ(::SendDlgItemMessageA(dialog.m_hWnd, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0), 50000);

    HWND cancel = ::GetDlgItem(dialog.m_hWnd, IDCANCEL);
    ::PostMessageA(cancel, BM_CLICK, 0, 0);
    EXPECT_TRUE(dialog.CheckCancel());
    EXPECT_FALSE(dialog.CheckCancel());
    ::SetFocus(cancel);
    ::PostMessageA(cancel, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_FALSE(dialog.CheckCancel());
    ::PostMessageA(cancel, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(dialog.CheckCancel() && ::IsWindow(dialog.m_hWnd));
    dialog.EnableCancel(FALSE);
    EXPECT_FALSE(::IsWindowEnabled(cancel));
    dialog.SetMessage("ﾌｧｲﾙ");
    EXPECT_EQ(ItemText(dialog.m_hWnd, IDC_PROGRESS_MESSAGE), "ﾌｧｲﾙ");
}

// The owner is the parent or else the main window; one disabled before stays disabled.
TEST(ProgressDialog, OwnerIsDisabledWhileShown) {
    CWnd owner, disabled, mainWindow;
    for (CWnd* window : {&owner, &disabled, &mainWindow})
        window->Attach(::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr));
    disabled.EnableWindow(FALSE);
    AfxGetApp()->m_pMainWnd = &mainWindow;
    for (CWnd* parent : {&owner, &disabled, static_cast<CWnd*>(nullptr)}) {
        const CWnd& expected = parent ? *parent : mainWindow;
        for (bool destroy : {true, false}) {  // else the destructor alone, as on a failure path
            {
                CProgressDlg dialog;
                EXPECT_TRUE(dialog.Create(parent) && !expected.IsWindowEnabled());
                EXPECT_TRUE(!destroy || dialog.DestroyWindow());
            }
            EXPECT_EQ(expected.IsWindowEnabled() != FALSE, parent != &disabled) << destroy;
        }
    }
    AfxGetApp()->m_pMainWnd = nullptr;
}
