#include <QApplication>
#include <QEnterEvent>
#include <QFile>
#include <QImage>
#include <QTest>
#include <QTextStream>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "controls/mapi_mail.h"
#include "controls/url_link_button.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// Records what the desktop was asked to open, and answers as told.
struct OpenerStub {
  std::vector<QUrl> opened;
  bool succeed = true;
  CURLLinkButton::UrlOpener previous;
  CURLLinkButton::PageOpener previousAbout, previousHelp;
  int about = 0, help = 0;

  OpenerStub() {
    previous = CURLLinkButton::SetUrlOpener([this](const QUrl& url) {
      opened.push_back(url);
      return succeed;
    });
    previousAbout = CURLLinkButton::SetAboutBoxOpener([this](QWidget*) { ++about; });
    previousHelp = CURLLinkButton::SetHelpPageOpener([this](QWidget*) { ++help; });
  }
  ~OpenerStub() {
    CURLLinkButton::SetUrlOpener(previous);
    CURLLinkButton::SetAboutBoxOpener(previousAbout);
    CURLLinkButton::SetHelpPageOpener(previousHelp);
  }
};

// A stand-in mail helper on PATH that writes its arguments, one a line, to a file.
struct FakeMailProgram {
  test::TempDir dir;
  std::string log = dir.file("args.txt");
  std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";

  explicit FakeMailProgram(int exitCode = 0, bool present = true) {
    if (present) {
      const std::string script = dir.file("xdg-email");
      QFile f(QString::fromStdString(script));
      EXPECT_TRUE(f.open(QIODevice::WriteOnly));
      QTextStream(&f) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
                      << QString::fromStdString(log) << "'\nexit " << exitCode << "\n";
      f.close();
      f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    setenv("PATH", dir.path().c_str(), 1);
    UnloadMapiLibrary();
  }
  ~FakeMailProgram() {
    setenv("PATH", oldPath.c_str(), 1);
    UnloadMapiLibrary();
  }
  QStringList Arguments() const {
    QFile f(QString::fromStdString(log));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
  }
};

void Hover(QWidget& w, bool in) {
  if (in) {
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(&w, &enter);
  } else {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&w, &leave);
  }
}

TEST(UrlLinkButton, DrawsUnderlinedBoldTextInTheStateColour) {
  QWidget page;
  CURLLinkButton link(kProductWebPage, &page);
  link.SetLinkColors(QColor(0, 0, 200), QColor(0, 160, 0), QColor(0x80, 0, 0x80));
  link.SizeToText();
  EXPECT_GT(link.width(), 100);

  const QFont font = link.CurrentFont();
  EXPECT_TRUE(font.underline());
  EXPECT_EQ(font.pixelSize(), 14);
  EXPECT_EQ(font.weight(), 800);

  auto inkOf = [&](QColor colour) {
    const QImage shot = link.grab().toImage();
    int ink = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) ink += QColor(shot.pixel(x, y)) == colour;
    return ink;
  };
  EXPECT_GT(inkOf(QColor(0, 0, 200)), 50);
  // The underline: one row holds a long run of the text colour.
  {
    const QImage shot = link.grab().toImage();
    int longest = 0;
    for (int y = 0; y < shot.height(); ++y) {
      int run = 0;
      for (int x = 0; x < shot.width(); ++x) {
        run = QColor(shot.pixel(x, y)) == QColor(0, 0, 200) ? run + 1 : 0;
        longest = std::max(longest, run);
      }
    }
    EXPECT_GT(longest, link.width() * 3 / 4);
  }

  Hover(link, true);
  EXPECT_EQ(link.CurrentTextColor(), QColor(0, 160, 0));
  EXPECT_GT(inkOf(QColor(0, 160, 0)), 50);
  Hover(link, false);

  OpenerStub stub;
  link.Click();
  EXPECT_TRUE(link.Visited());
  EXPECT_EQ(link.CurrentTextColor(), QColor(0x80, 0, 0x80));

  link.setEnabled(false);
  EXPECT_EQ(link.CurrentTextColor(), QApplication::palette().color(QPalette::Disabled, QPalette::Text));
  EXPECT_FALSE(link.CurrentFont().underline());
  link.grab().toImage().save(QString::fromUtf8(QM_TEST_OUTPUT_DIR) + "/url_link_disabled.png");
}

TEST(UrlLinkButton, ClickOpensWhatTheTargetNames) {
  QWidget page;
  struct Case {
    QString caption, target, prefix;
    QString opened;  // empty: nothing handed to the desktop
    int about, help;
  } cases[] = {
      {kProductWebPage, {}, {}, kProductWebPage, 0, 0},
      {kSalesMailAddress, {}, {}, "mailto:" + kSalesMailAddress, 0, 0},
      {kSupportMailAddress, {}, {}, "mailto:" + kSupportMailAddress, 0, 0},
      {"Contact Us", {}, {}, {}, 1, 0},
      {"Contents", {}, {}, {}, 0, 1},
      {"Our site", "quillmoren.example/buy", "https://", "https://quillmoren.example/buy", 0, 0},
      {"Help", "Contents", {}, {}, 0, 1},  // the target, not the caption, decides
  };
  for (const Case& c : cases) {
    OpenerStub stub;
    CURLLinkButton link(c.caption, &page);
    if (!c.target.isEmpty()) link.SetURL(c.target);
    link.SetURLPrefix(c.prefix);
    QTest::mouseClick(&link, Qt::LeftButton);
    if (c.opened.isEmpty()) {
      EXPECT_TRUE(stub.opened.empty()) << c.caption.toStdString();
    } else {
      ASSERT_EQ(stub.opened.size(), 1u) << c.caption.toStdString();
      EXPECT_EQ(stub.opened[0].toString(), c.opened);
    }
    EXPECT_EQ(stub.about, c.about) << c.caption.toStdString();
    EXPECT_EQ(stub.help, c.help) << c.caption.toStdString();
    EXPECT_TRUE(link.Visited());
    EXPECT_FALSE(link.Hovered());
  }

  // A disabled link ignores clicks.
  OpenerStub stub;
  CURLLinkButton disabled(kProductWebPage, &page);
  disabled.setEnabled(false);
  disabled.Click();
  EXPECT_TRUE(stub.opened.empty());
  EXPECT_FALSE(disabled.Visited());

  EXPECT_EQ(CURLLinkButton::ShellTarget("no such thing here").isValid(), false);
  EXPECT_EQ(CURLLinkButton::ShellTarget("C:\\x.txt").isValid(), false);
  EXPECT_EQ(CURLLinkButton::ShellTarget("/").scheme(), "file");
}

TEST(UrlLinkButton, SpaceDoesNothingAndEnterClicksOnRelease) {
  QWidget page;
  OpenerStub stub;
  CURLLinkButton link(kProductWebPage, &page);
  page.show();
  link.setFocus();
  QTest::keyClick(&link, Qt::Key_Space);
  EXPECT_TRUE(stub.opened.empty());
  EXPECT_FALSE(link.Visited());
  QTest::keyPress(&link, Qt::Key_Return);
  EXPECT_TRUE(stub.opened.empty());
  QTest::keyRelease(&link, Qt::Key_Return);
  EXPECT_EQ(stub.opened.size(), 1u);
  EXPECT_TRUE(link.Visited());
  // A release without its press (another key came between) does nothing.
  QTest::keyPress(&link, Qt::Key_Return);
  QTest::keyPress(&link, Qt::Key_A);
  QTest::keyRelease(&link, Qt::Key_Return);
  EXPECT_EQ(stub.opened.size(), 1u);
}

TEST(UrlLinkButton, TooltipShowsTheTargetWhileHovered) {
  QWidget page;
  CURLLinkButton link("Buy", &page);
  link.SetURL("quillmoren.example/buy");
  link.SetURLPrefix("https://");
  EXPECT_EQ(link.GetTargetURL(), "https://quillmoren.example/buy");
  link.SetToolTipText();
  EXPECT_EQ(link.toolTip(), "https://quillmoren.example/buy");
  link.SetToolTipText("Order now");
  EXPECT_EQ(link.toolTip(), "Order now");
  EXPECT_FALSE(link.ToolTipActive());
  Hover(link, true);
  EXPECT_TRUE(link.ToolTipActive());
  Hover(link, false);
  EXPECT_FALSE(link.ToolTipActive());
}

TEST(MapiMail, ArgumentsForTheMailHelper) {
  struct Case {
    QString attachment, subject, note, recipient;
    QStringList args;
  } cases[] = {
      {{}, {}, {}, "SMTP:sales@quillmoren.example",
       {"--utf8", "--cc", "sales@quillmoren.example", "sales@quillmoren.example"}},
      {"/tmp/report.txt", "IP Address : 10.0.0.7", "My Current IP Address : 10.0.0.7", "smtp:support@quillmoren.example",
       {"--utf8", "--cc", "support@quillmoren.example", "--subject", "IP Address : 10.0.0.7", "--body",
        "My Current IP Address : 10.0.0.7", "--attach", "/tmp/report.txt", "support@quillmoren.example"}},
      // Text beyond Latin-1 goes over whole, not cut to its low byte.
      {{}, QString::fromUtf8("Grüße ∑"), {}, "zoë@example.org",
       {"--utf8", "--cc", QString::fromUtf8("zoë@example.org"), "--subject", QString::fromUtf8("Grüße ∑"),
        QString::fromUtf8("zoë@example.org")}},
      {{}, "subject", "note", "SMTP:", {}},  // no recipient: nothing to send
      {{}, "subject", "note", "", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MailProgramArguments(c.attachment, c.subject, c.note, c.recipient), c.args)
        << c.recipient.toStdString();
}

TEST(MapiMail, LoadsTheHelperFromPathAndReportsItsResult) {
  {
    FakeMailProgram missing(0, false);
    EXPECT_EQ(LoadMapiLibrary(), kMailCannotLoad);
    EXPECT_EQ(LogonMapiSession(), 0);
    EXPECT_EQ(SendMapiMail({}, {}, "s", "n", "SMTP:a@b.example"), kMailFailed);
  }
  {
    FakeMailProgram ok(0);
    EXPECT_EQ(LoadMapiLibrary(), kMailLoaded);
    EXPECT_TRUE(MailProgramPath().endsWith("/xdg-email"));
    EXPECT_EQ(LogoffMapiSession(), 0);
    EXPECT_EQ(LogonMapiSession(), 1);
    EXPECT_EQ(SendMapiMail({}, {}, "Hello", "Body text", "SMTP:a@b.example"), 0);
    EXPECT_EQ(ok.Arguments(),
              (QStringList{"--utf8", "--cc", "a@b.example", "--subject", "Hello", "--body", "Body text", "a@b.example"}));
    EXPECT_EQ(SendMapiMail({}, {}, "Hello", "Body text", "SMTP:"), kMailFailed);
    EXPECT_EQ(LogoffMapiSession(), 1);
  }
  {
    FakeMailProgram failing(3);
    ASSERT_EQ(LoadMapiLibrary(), kMailLoaded);
    EXPECT_EQ(SendMapiMail({}, {}, "s", {}, "SMTP:a@b.example"), kMailFailed);
  }
}

TEST(UrlLinkButton, UnopenableTargetFallsBackToMail) {
  QWidget page;
  OpenerStub stub;
  stub.succeed = false;
  struct Case {
    QString caption;
    int controlId;
    QStringList args;
  } cases[] = {
      {"someone.with.a.rather.long.name@quillmoren.example", 0,
       {"--utf8", "--cc", "someone.with.a.rather.long.name@quillmoren.example",
        "someone.with.a.rather.long.name@quillmoren.example"}},
      {"Email", 0, {"--utf8", "--cc", "Email", "Email"}},
  };
  for (const Case& c : cases) {
    FakeMailProgram mail;
    CURLLinkButton link(c.caption, &page);
    link.SetControlId(c.controlId);
    link.Click();
    EXPECT_EQ(mail.Arguments(), c.args) << c.caption.toStdString();
    EXPECT_TRUE(link.Visited());
  }

  // The "Email" link with id 1004 mails the local address to support.
  {
    FakeMailProgram mail;
    CURLLinkButton link("Email", &page);
    link.SetControlId(kEmailIpControlId);
    link.Click();
    const QStringList args = mail.Arguments();
    ASSERT_EQ(args.size(), 8);
    EXPECT_EQ(args[2], kSupportMailAddress);
    EXPECT_EQ(args[4], "IP Address : " + link.LocalAddressText());
    EXPECT_EQ(args[6], "My Current IP Address : " + link.LocalAddressText());
  }

  // No helper: the click ends quietly, visited all the same.
  {
    FakeMailProgram none(0, false);
    CURLLinkButton link("not-a-url", &page);
    link.Click();
    EXPECT_TRUE(link.Visited());
  }
  // A link without a parent window does not mail.
  {
    FakeMailProgram mail;
    CURLLinkButton orphan("orphan@quillmoren.example");
    orphan.Click();
    EXPECT_TRUE(mail.Arguments().isEmpty());
  }
}

TEST(UrlLinkButton, LocalAddressIsAnIpv4AddressOrNothing) {
  CURLLinkButton link("x");
  EXPECT_EQ(link.GetLocalIpAddress(), 1);
  const QString address = link.LocalAddressText();
  if (!address.isEmpty()) {
    EXPECT_EQ(address.count('.'), 3) << address.toStdString();
    EXPECT_FALSE(address.startsWith("127.")) << address.toStdString();
  }
}

}  // namespace
}  // namespace qm
