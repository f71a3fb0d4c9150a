#include "progress/uRichEditHelper.h"
#include "progress/uRichEditProgressEx.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>

#include "tests/support/QtTestMain.h"
#include "tests/support/uLogPaneLines.h"

namespace {

using ::testing::ElementsAre;
using testfiles::LogPaneLines;

// A log pane with its view registered with a service of its own.
class LogPane : public ::testing::Test {
protected:
  LogPane() : View(std::make_shared<TRichEditProgressEx>(Log)) {
    Log.setReadOnly(true);
    Log.setLineWrapMode(QTextEdit::NoWrap);
    Service.AddView(View);
  }
  ~LogPane() override { Service.RemoveView(View); }

  // One file's level, as the recovery opens it around the copy.
  void CopyFile(const std::string& ATitle, std::int64_t ASize) {
    Service.Start(ATitle, ASize, "bytes", 100);
    Service.DoProgress(ASize);
    Service.Close();
  }

  QTextEdit Log;
  TProgressExService Service;
  IProgressExViewPtr View;
};

TEST_F(LogPane, ARunWithACreatedAnOverwrittenASkippedAndAFailedFile) {
  Service.Start("Recovering...", 4, "objects", 100);
  CopyFile("Create file /out/a.txt", 2400);
  Service.DoProgress(0);
  CopyFile("Overwrite file /out/b.txt", 18432);
  Service.DoProgress(1);
  Service.Detail(pdsWarning, "Skip file /out/c.txt. (Already exists)");
  Service.DoProgress(2);
  Service.Detail(pdsError, "cannot create \"/out/d.txt\": Is a directory");
  Service.DoProgress(3);
  Service.Detail(pdsInformation, "Recovering completed.");
  Service.Close();

  EXPECT_THAT(LogPaneLines(Log),
              ElementsAre("Recovering... ( 4 objects) | bold",
                          "  Create file /out/a.txt ( 2400 bytes) | bold",
                          "  Overwrite file /out/b.txt ( 18432 bytes) | bold",
                          "Warning: Skip file /out/c.txt. (Already exists) | red",
                          "Error: cannot create \"/out/d.txt\": Is a directory | red",
                          "Recovering completed."));
}

TEST_F(LogPane, CancelingAFileMarksItAndEveryLevelAroundIt) {
  Service.Start("Recovering...", 2, "objects", 100);
  Service.Start("Create file /out/big.bin", 1000, "bytes", 100);
  Service.Cancel();
  Service.Close();
  Service.Close();

  EXPECT_THAT(LogPaneLines(Log), ElementsAre("Recovering... ( 2 objects) | bold",
                                             "  Create file /out/big.bin ( 1000 bytes) | bold",
                                             "  Error: canceled | red", "Error: canceled | red"));
}

TEST_F(LogPane, LinesAreWrittenAsTheyAreGiven) {
  struct TCase {
    const char* Name;
    TProgressDetailStatus Status;
    std::string Message;
    std::string Line;
  };
  const TCase Cases[] = {
      {"empty warning keeps its blank", pdsWarning, "", "Warning:  | red"},
      {"placeholders in a message stay", pdsInformation, "file %1 and %s", "file %1 and %s"},
      {"non-ASCII text", pdsError, "Übersicht – 日本.txt", "Error: Übersicht – 日本.txt | red"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Log.clear();
    Service.Start("Recovering...", 0, "", 100);
    Service.Detail(Case.Status, Case.Message);
    Service.Close();
    // The service makes a count of 0 into 1, so the line always has one.
    EXPECT_THAT(LogPaneLines(Log), ElementsAre("Recovering... ( 1 ) | bold", Case.Line));
  }
}

TEST_F(LogPane, UpdatesWriteNothing) {
  Service.Start("Recovering...", 10, "objects", 10);
  const QString Before = Log.toHtml();
  for (int Done = 0; Done <= 10; ++Done)
    Service.DoProgress(Done);
  EXPECT_EQ(Log.toHtml(), Before);
  Service.Close();
}

// A click into the pane moves its insertion point into older text; the next
// line still goes to the end, in its own format.
TEST_F(LogPane, AClickIntoOldTextChangesNeitherPlaceNorFormatOfTheNextLine) {
  Service.Start("Recovering...", 1, "objects", 100);
  QTextCursor IntoTitle = Log.textCursor();
  IntoTitle.setPosition(3);
  Log.setTextCursor(IntoTitle);
  Service.Detail(pdsInformation, "Recovering completed.");
  Service.Close();
  EXPECT_THAT(LogPaneLines(Log), ElementsAre("Recovering... ( 1 objects) | bold", "Recovering completed."));
}

TEST_F(LogPane, TheLastLineStaysInSight) {
  Log.resize(200, 120);
  Log.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Log));
  Service.Start("Recovering...", 200, "objects", 100);
  for (int Line = 0; Line < 200; ++Line)
    Service.Detail(pdsInformation, "a line long enough to reach past the right edge of the pane " +
                                       std::to_string(Line));
  Service.Close();
  QCoreApplication::processEvents();
  EXPECT_GT(Log.verticalScrollBar()->maximum(), 0);
  QTextCursor LastLine(Log.document()->lastBlock().previous());
  EXPECT_EQ(LastLine.block().text().toStdString(),
            "a line long enough to reach past the right edge of the pane 199");
  EXPECT_TRUE(Log.viewport()->rect().contains(Log.cursorRect(LastLine)));
  EXPECT_EQ(Log.horizontalScrollBar()->value(), 0);
}

TEST(RichEditHelper, AddLineAppendsAParagraphInTheCurrentFormat) {
  QTextEdit Edit;
  QTextCharFormat Red;
  Red.setForeground(TRichEditProgressEx::ProblemColor);
  Edit.setCurrentCharFormat(Red);
  RichEditHelper::AddLine(Edit, "first");
  QTextCharFormat Bold;
  Bold.setFontWeight(QFont::Bold);
  Edit.setCurrentCharFormat(Bold);
  RichEditHelper::AddLine(Edit, "second");
  EXPECT_EQ(Edit.toPlainText(), "first\nsecond\n");
  EXPECT_THAT(LogPaneLines(Edit), ElementsAre("first | red", "second | bold"));
}

} // namespace

int main(int argc, char** argv) { return RunTestsInside<QApplication>(argc, argv); }
