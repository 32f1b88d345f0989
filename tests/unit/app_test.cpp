#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <tuple>

#include "ProgressDlg.h"
#include "TestSupport.h"
#include "VersionText.h"
#include "ZynUpdateApp.h"
#include "resource.h"

// Each row: the arguments; the home, mode, -AUTO, help file and help context they leave.
TEST(CommandLine, SwitchesMatchWholeValuesAreNotConsumedAndTheLastWins) {
    const std::string chm = "C:\\Prog\\ZynUpdate.chm";
    const std::pair<std::vector<std::string>, std::tuple<std::string, int, BOOL, std::string, int>> cases[] = {
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

// Enter would press the focused Cancel button; Escape counts, and Cancel only raises the flag. The owner is the
// parent or else the main window; one disabled before stays disabled.
TEST(ProgressDialog, PercentWrapsAsTheBarCancelIsReadOnceEnterDoesNothingAndTheOwnerIsDisabledWhileShown) {
    CProgressDlg dialog;
    ASSERT_TRUE(dialog.Create());
    auto itemText = [&dialog](int id) {
        char text[32] = "";
        ::GetDlgItemTextA(dialog.m_hWnd, id, text, sizeof(text));
        return std::string(text);
    };
    const std::tuple<int, int, const char*> steps[] = {
        {100, 0, "0%"}, {100, 42, "42%"}, {100, 100, "100%"}, {100, 150, "50%"},
        {3, 1, "33%"},  {3, 2, "66%"},    {3, 3, "100%"},     {0, 0, "100%"}};  // an empty range changes nothing
    for (const auto& [upper, pos, percent] : steps) {
        dialog.SetRange(0, upper);
        dialog.SetPos(pos);
        EXPECT_EQ(itemText(IDC_PROGRESS_PERCENT), percent) << pos << " of " << upper;
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
    EXPECT_EQ(itemText(IDC_PROGRESS_MESSAGE), "ﾌｧｲﾙ");

    CWnd owner, disabled, mainWindow;
    for (CWnd* window : {&owner, &disabled, &mainWindow})
        window->Attach(::CreateWindowExA(0, "STATIC", "x", WS_POPUP, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(owner.GetWindowText(), "x");  // one character is a text too
    disabled.EnableWindow(FALSE);
    AfxGetApp()->m_pMainWnd = &mainWindow;
    for (CWnd* parent : {&owner, &disabled, static_cast<CWnd*>(nullptr)}) {
        const CWnd& expected = parent ? *parent : mainWindow;
        for (bool destroy : {true, false}) {  // else the destructor alone, as on a failure path
            auto shown = std::make_unique<CProgressDlg>();
            EXPECT_TRUE(shown->Create(parent) && !expected.IsWindowEnabled());
            EXPECT_TRUE(!destroy || shown->DestroyWindow());
            shown.reset();
            EXPECT_EQ(expected.IsWindowEnabled() != FALSE, parent != &disabled) << destroy;
        }
    }
    AfxGetApp()->m_pMainWnd = nullptr;
    // A wait cursor shows again after an earlier one ended.
    for (int shown = 0; shown < 2; ++shown) {
        AfxGetApp()->BeginWaitCursor();
        EXPECT_EQ(::GetCursor(), ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514))) << shown;  // IDC_WAIT
        AfxGetApp()->EndWaitCursor();
    }
}

// Discovery itself runs end to end (test_check.py); these are its parsers' corner cases.
TEST(VersionText, KeysCodesAndRevisions) {
    const std::tuple<const char*, int, int> cases[] = {
        {"3.5", 35000, 350}, {"3.50", 35000, 350}, {"3.5a", 35001, 350}, {"3.5z", 35026, 350}, {"3", 30000, 300},
        {"10.25", 102500, 1025}, {"3.12345", 312345, 3123}, {"3.5.1", 3510, 35}, {"3.5ア", 35, 0},  // 0x41 trails ア
        {"99999999999", INT_MAX, INT_MAX / 100}};
    for (const auto& [text, key, code] : cases)
        EXPECT_EQ(VersionKey(text) * 100000LL + VersionCode(VersionKey(text)), key * 100000LL + code) << text;
    EXPECT_EQ(VerFileVersionText("Ver3.5A") + VerFileVersionText("Ver3.5ア"), "3.5a3.5ア");
    const std::pair<const char*, int> revisions[] = {{"Ver3.5 (No.3)\r\n(No.12) fix\r\n", 12}, {"(No.3) No.7 open", 0},
                                                     {"none", 0}, {"no.5)", 0}, {"No.  15)", 15}, {"No.12a)", 12},
                                                     {"No.)", 0}, {"No.99999999999)", INT_MAX}};
    for (const auto& c : revisions)
        EXPECT_EQ(ParseRevision(c.first), c.second) << c.first;
}
