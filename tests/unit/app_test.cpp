#include <gtest/gtest.h>

#include "MessageBox.h"
#include "ProgressDlg.h"
#include "TestSupport.h"
#include "ZynUpdateApp.h"
#include "resource.h"

namespace {
struct Parsed {
    std::string home;
    int mode;
    BOOL automatic;
    CCommandLine command;
    std::string helpPath;
};

Parsed Parse(std::vector<std::string> args) {
    CZynUpdateApp app;  // a fresh run state; the test program's own object returns afterwards
    Parsed parsed;
    app.SetHelpFilePath("C:\\Prog\\ZynUpdate.chm");
    app.ParseCommandLine(args, parsed.command);
    parsed.home = app.m_strHome;
    parsed.mode = app.m_nMode;
    parsed.automatic = app.m_bAuto;
    parsed.helpPath = app.m_pszHelpFilePath;
    return parsed;
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> fields;
    SplitFields(text, fields, ',', TRUE);
    return fields;
}
}  // namespace

// Each row: the arguments; the home, mode, -AUTO, help file and help context they leave.
TEST(CommandLine, SwitchesMatchWholeValuesAreNotConsumedAndTheLastWins) {
    const std::string chm = "C:\\Prog\\ZynUpdate.chm";
    const struct {
        std::vector<std::string> args;
        std::string home;
        int mode, automatic;
        std::string helpPath;
        int context;
    } cases[] = {
        {{}, "", 0, FALSE, chm, 0},
        {{"-auto"}, "", 0, TRUE, chm, 0},  // any case, but the whole switch
        {{"-Auto"}, "", 0, TRUE, chm, 0},
        {{"-AUTOX"}, "", 0, FALSE, chm, 0},
        {{"/AUTO"}, "", 0, FALSE, chm, 0},
        {{"AUTO"}, "", 0, FALSE, chm, 0},
        {{"-AUTO=1"}, "", 0, FALSE, chm, 0},
        {{"-HOME", "D:\\CAD", "-AUTO"}, "D:\\CAD", 0, TRUE, chm, 0},
        {{"-HOME", "-AUTO"}, "-AUTO", 0, TRUE, chm, 0},  // the value is read and still a switch
        {{"-HOME", "-DOVI"}, "-DOVI", 1, FALSE, chm, 0},
        {{"-HOME", "D:\\A", "-HOME"}, "D:\\A", 0, FALSE, chm, 0},  // a value switch at the end takes nothing
        {{"-H"}, "", 0, FALSE, chm, 0},
        {{"-HOME", "D:\\A", "-HOME", "D:\\B"}, "D:\\B", 0, FALSE, chm, 0},
        {{"-DOVI", "-7QV"}, "", 2, FALSE, chm, 0},
        {{"-7QV", "-REVIT"}, "", 3, FALSE, chm, 0},
        {{"-H", "C:\\doc\\a.chm"}, "", 0, FALSE, "C:\\doc\\a.chm", 0},
        {{"-HELP", "a b.chm, 120"}, "", 0, FALSE, "a b.chm", 120},
        {{"-H", "x.chm,120", "-H", "y.chm,0"}, "", 0, FALSE, "y.chm", 120},  // a context of 0 keeps the earlier one
        {{"-H", "z.chm,abc"}, "", 0, FALSE, "z.chm", 0},
        {{"-H", ",7"}, "", 0, FALSE, "", 7},  // an empty first field still replaces the path
    };
    for (const auto& c : cases) {
        std::string args;
        for (const std::string& arg : c.args)
            args += "[" + arg + "]";
        SCOPED_TRACE(args);
        Parsed p = Parse(c.args);
        EXPECT_EQ(p.home, c.home);
        EXPECT_EQ(p.mode, c.mode);
        EXPECT_EQ(p.automatic, c.automatic);
        EXPECT_EQ(p.helpPath, c.helpPath);
        EXPECT_EQ(p.command.nHelpContext, c.context);
    }
}

TEST(CommandLine, RunSwitchesAndTheSimpleTemplate) {
    Parsed p = Parse({});
    EXPECT_EQ(p.command.nTemplate, static_cast<UINT>(IDD_ZYNUPDATE_DIALOG));
    EXPECT_FALSE(p.command.bCheck || p.command.bDeleteBackups || p.command.bVersion);
    p = Parse({"-delbak", "-Check", "-ver"});
    EXPECT_TRUE(p.command.bDeleteBackups && p.command.bCheck && p.command.bVersion);
    EXPECT_EQ(Parse({"-DOVI", "-7QV"}).command.nTemplate, static_cast<UINT>(IDD_ZYNUPDATE_SIMPLE));
}

TEST(SplitFields, EmptyTextGivesNoField) {
    std::vector<std::string> fields{"stale"};
    EXPECT_EQ(SplitFields("", fields, ',', TRUE), 1);
    EXPECT_TRUE(fields.empty());
}

TEST(SplitFields, TrailingSeparatorGivesAnEmptyLastField) {
    EXPECT_EQ(Split("a,b,"), (std::vector<std::string>{"a", "b", ""}));
    EXPECT_EQ(Split(" a , b "), (std::vector<std::string>{"a", "b"}));
}

TEST(SplitFields, QuotedFieldsKeepSeparatorsAndEscapedQuotes) {
    EXPECT_EQ(Split("x,\"a,b\",c"), (std::vector<std::string>{"x", "a,b", "c"}));
    EXPECT_EQ(Split("x,\"say \"\"hi\"\"\",c"), (std::vector<std::string>{"x", "say \"hi\"", "c"}));
    // A quote that opens the whole text is an ordinary character, trimmed when it surrounds the field.
    EXPECT_EQ(Split("\"a\",b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Split("\"a,b\""), (std::vector<std::string>{"\"a", "b\""}));
}

TEST(SplitFields, DoubleByteCharactersAreCopiedWhole) {
    // 0x81 0x2C is one character whose second byte is the comma byte.
    EXPECT_EQ(Split("\x81\x2C" "a,b"), (std::vector<std::string>{"\x81\x2C" "a", "b"}));
    EXPECT_EQ(Split("表,b"), (std::vector<std::string>{"表", "b"}));
}

TEST(SplitFields, UntrimmedFieldsKeepTheirBlanks) {
    std::vector<std::string> fields;
    SplitFields(" a ;b", fields, ';', FALSE);
    EXPECT_EQ(fields, (std::vector<std::string>{" a ", "b"}));
}

namespace {
std::string PercentText(CProgressDlg& dialog) {
    char text[32] = "";
    ::GetDlgItemTextA(dialog.m_hWnd, IDC_PROGRESS_PERCENT, text, sizeof(text));
    return text;
}

// A plain top-level window to own progress dialogs.
class COwnerWindow : public CWnd {
public:
    COwnerWindow() {
        m_hWnd = ::CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                                   nullptr, nullptr);
    }
    ~COwnerWindow() override { ::DestroyWindow(m_hWnd); }
};
}  // namespace

TEST(ProgressDialog, PercentFollowsThePositionAndWraps) {
    CProgressDlg dialog;
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(PercentText(dialog), " 0 %");
    char caption[64] = "";
    ::GetWindowTextA(dialog.m_hWnd, caption, sizeof(caption));
    EXPECT_STREQ(caption, "処理中");

    dialog.SetRange(0, 100);
    dialog.SetPos(0);
    EXPECT_EQ(PercentText(dialog), "0%");
    EXPECT_EQ(dialog.SetPos(42), 0);
    EXPECT_EQ(PercentText(dialog), "42%");
    EXPECT_EQ(dialog.SetPos(100), 42);
    EXPECT_EQ(PercentText(dialog), "100%");
    dialog.SetPos(150);
    EXPECT_EQ(PercentText(dialog), "50%");

    // More steps than a 16-bit range holds still move the bar.
    dialog.SetRange(0, 100000);
    dialog.SetPos(50000);
    EXPECT_EQ(PercentText(dialog), "50%");
    EXPECT_EQ(::SendDlgItemMessageA(dialog.m_hWnd, IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, 0), 100000);

    dialog.SetRange(0, 3);
    dialog.SetPos(1);
    EXPECT_EQ(PercentText(dialog), "33%");
    dialog.SetPos(2);
    EXPECT_EQ(PercentText(dialog), "66%");
    dialog.SetPos(3);
    EXPECT_EQ(PercentText(dialog), "100%");
}

TEST(ProgressDialog, CancelIsReadOnceAndEscapeCountsEnterDoesNot) {
    CProgressDlg dialog;
    ASSERT_TRUE(dialog.Create());
    HWND cancel = ::GetDlgItem(dialog.m_hWnd, IDCANCEL);
    EXPECT_FALSE(dialog.CheckCancel());

    ::PostMessageA(cancel, BM_CLICK, 0, 0);
    ::PostMessageA(cancel, BM_CLICK, 0, 0);
    EXPECT_TRUE(dialog.CheckCancel());
    EXPECT_FALSE(dialog.CheckCancel());

    ::SetFocus(cancel);
    ::PostMessageA(cancel, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_FALSE(dialog.CheckCancel());
    EXPECT_TRUE(::IsWindow(dialog.m_hWnd));

    ::PostMessageA(cancel, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(dialog.CheckCancel());
    EXPECT_TRUE(::IsWindow(dialog.m_hWnd));  // Cancel only raises the flag

    dialog.EnableCancel(FALSE);
    EXPECT_FALSE(::IsWindowEnabled(cancel));
    dialog.SetMessage("ﾌｧｲﾙ");
    char text[32] = "";
    ::GetDlgItemTextA(dialog.m_hWnd, IDC_PROGRESS_MESSAGE, text, sizeof(text));
    EXPECT_STREQ(text, "ﾌｧｲﾙ");
}

TEST(ProgressDialog, OwnerIsDisabledWhileShownAndEnabledAfter) {
    COwnerWindow owner;
    {
        CProgressDlg dialog;
        ASSERT_TRUE(dialog.Create(&owner));
        EXPECT_FALSE(::IsWindowEnabled(owner.m_hWnd));
        EXPECT_TRUE(dialog.DestroyWindow());
        EXPECT_TRUE(::IsWindowEnabled(owner.m_hWnd));
    }
    {
        CProgressDlg dialog;  // gone through its destructor only, as on a failure path
        ASSERT_TRUE(dialog.Create(&owner));
        EXPECT_FALSE(::IsWindowEnabled(owner.m_hWnd));
    }
    EXPECT_TRUE(::IsWindowEnabled(owner.m_hWnd));
}

TEST(ProgressDialog, AnOwnerDisabledBeforeStaysDisabled) {
    COwnerWindow owner;
    ::EnableWindow(owner.m_hWnd, FALSE);
    {
        CProgressDlg dialog;
        ASSERT_TRUE(dialog.Create(&owner));
        dialog.DestroyWindow();
    }
    EXPECT_FALSE(::IsWindowEnabled(owner.m_hWnd));
}

TEST(ProgressDialog, WithoutParentTheMainWindowIsTheOwner) {
    COwnerWindow mainWindow;
    CWinApp* app = AfxGetApp();
    app->m_pMainWnd = &mainWindow;
    {
        CProgressDlg dialog;
        ASSERT_TRUE(dialog.Create());
        EXPECT_FALSE(::IsWindowEnabled(mainWindow.m_hWnd));
    }
    app->m_pMainWnd = nullptr;
    EXPECT_TRUE(::IsWindowEnabled(mainWindow.m_hWnd));
}

TEST(MessageBoxes, ApplicationBoxCarriesTheProgramName) {
    CMessageBoxRecorder boxes;
    boxes.Answer(IDNO);
    EXPECT_EQ(AfxMessageBox("質問", MB_YESNO), IDNO);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].caption, "app_test");
    EXPECT_EQ(boxes.Shown()[0].type, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(AfxMessageBox("既定", MB_YESNO | MB_DEFBUTTON2), IDNO);
}
