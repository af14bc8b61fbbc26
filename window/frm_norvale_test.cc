// Tests of the main window: its controls, its defaults and what a press of
// the button shows, on real temporary folders.
#include "window/frm_norvale.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Answers every message box the window opens, so no test blocks, and keeps
// icon, title, text and number of buttons of each.
class MessageCatcher : public QObject {
 public:
  MessageCatcher() {
    connect(&m_timer, &QTimer::timeout, this, [this] {
      auto *box =
          qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box) return;
      seen << QStringList{QString::number(box->icon()), box->windowTitle(),
                          box->text(), QString::number(box->buttons().size())};
      box->done(QMessageBox::Ok);
    });
    m_timer.start(10);
  }
  QList<QStringList> seen;

 private:
  QTimer m_timer;
};

QStringList box(QMessageBox::Icon icon, const QString &title,
                const QString &text) {
  return {QString::number(icon), title, text, "1"};
}

void writeFile(const fs::path &path, const std::string &text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const fs::path &path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

QString shown(const fs::path &path) {
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

// Makes `home` the user's home, with no user-dirs settings unless a test
// writes them.
void useHome(const fs::path &home) {
  fs::create_directories(home);
  qputenv("HOME", QByteArray::fromStdString(home.native()));
  qputenv("XDG_CONFIG_HOME",
          QByteArray::fromStdString((home / ".config").native()));
}

}  // namespace

class FrmNorvaleTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(m_dir.isValid());
    // A folder per test, so no test sees another's files.
    m_root = QFile::encodeName(m_dir.path()).toStdString();
    m_root /= std::to_string(++m_tests);
    useHome(m_root / "home");
  }
  void cleanupTestCase() {
    // QTemporaryDir works with names as text and cannot remove one that is
    // not valid UTF-8.
    fs::remove_all(QFile::encodeName(m_dir.path()).toStdString());
  }

  void controls();
  void captionsFit_data();
  void captionsFit();
  void defaults_data();
  void defaults();
  void pressRunsOnExactBytes();
  void failedRunKeepsTheWindow_data();
  void failedRunKeepsTheWindow();

 private:
  QTemporaryDir m_dir;
  fs::path m_root;
  int m_tests = 0;
};

void FrmNorvaleTest::controls() {
  frmNorvale window;
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QCOMPARE(window.windowTitle(), QStringLiteral("Norvale"));
  QCOMPARE(window.minimumSize(), window.maximumSize());
  // Six controls and nothing else: no menu bar, no status bar.
  QCOMPARE(window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly).size(),
           6);
  const struct {
    QWidget *widget;
    const char *name;
    QString text;
  } expected[] = {
      {window.Label1, "Label1",
       "This tool will remove all unneccessary information from shortcut "
       "(.url) files and copy them to a new folder."},
      {window.Label2, "Label2", "Source:"},
      {window.txtSource, "txtSource", ""},
      {window.Label3, "Label3", "Destination:"},
      {window.txtDest, "txtDest", ""},
      {window.cmdGo, "cmdGo", "Do it now"},
  };
  for (const auto &e : expected) {
    QCOMPARE(e.widget->objectName(), QLatin1String(e.name));
    QCOMPARE(e.widget->property("text").toString(), e.text);
  }
  for (QLabel *label : {window.Label1, window.Label2, window.Label3})
    QCOMPARE(label->textFormat(), Qt::PlainText);  // No '&' access keys.
  QVERIFY(window.Label1->wordWrap());
  QVERIFY(!window.cmdGo->isDefault() && !window.cmdGo->autoDefault());

  QCOMPARE(QApplication::focusWidget(), window.txtSource);
  for (QWidget *next : {(QWidget *)window.txtDest, (QWidget *)window.cmdGo,
                        (QWidget *)window.txtSource}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), next);
  }
}

void FrmNorvaleTest::captionsFit_data() {
  QTest::addColumn<int>("pointSize");
  QTest::newRow("default font") << 0;
  QTest::newRow("12 point") << 12;
  QTest::newRow("20 point") << 20;
}

// Measured afresh from the font rather than from the window's own sums, so a
// wrong measure in the window shows here as a clipped caption.
void FrmNorvaleTest::captionsFit() {
  QFETCH(int, pointSize);
  const QFont saved = QApplication::font();
  auto restore = qScopeGuard([&saved] { QApplication::setFont(saved); });
  QFont font = saved;
  if (pointSize > 0) font.setPointSize(pointSize);
  QApplication::setFont(font);
  frmNorvale window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  qInfo("scale %.2f, window %dx%d", window.layoutScale(), window.width(),
        window.height());

  for (QLabel *label : {window.Label1, window.Label2, window.Label3}) {
    const QRect room = label->contentsRect();
    const QRect need = label->fontMetrics().boundingRect(
        QRect(0, 0, room.width(), 100000), Qt::TextWordWrap, label->text());
    QVERIFY2(need.width() <= room.width() && need.height() <= room.height(),
             qPrintable(label->objectName()));
  }
  for (QLineEdit *field : {window.txtSource, window.txtDest})
    QVERIFY(field->minimumSizeHint().height() <= field->height());
  QVERIFY(window.cmdGo->fontMetrics().horizontalAdvance(window.cmdGo->text()) <
          window.cmdGo->width());
  QVERIFY(window.cmdGo->sizeHint().height() <= window.cmdGo->height());

  const auto controls =
      window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
  for (QWidget *a : controls) {
    QVERIFY(window.rect().contains(a->geometry()));
    for (QWidget *b : controls)
      QVERIFY(a == b || !a->geometry().intersects(b->geometry()));
  }
}

void FrmNorvaleTest::defaults_data() {
  QTest::addColumn<QByteArray>("userDirs");
  QTest::addColumn<QString>("desktop");
  QTest::newRow("no user-dirs") << QByteArray() << "Desktop";
  QTest::newRow("user-dirs")
      << QByteArray("XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n")
      << "Schreibtisch";
}

void FrmNorvaleTest::defaults() {
  QFETCH(QByteArray, userDirs);
  QFETCH(QString, desktop);
  if (!userDirs.isEmpty())
    writeFile(m_root / "home/.config/user-dirs.dirs", userDirs.toStdString());
  frmNorvale window;
  window.Form_Load();
  const QString home = shown(m_root / "home");
  QCOMPARE(window.txtSource->text(), home + "/Favorites");
  QCOMPARE(window.txtDest->text(),
           home + "/" + desktop + "/Compressed Favorites");
}

// A home whose name is not valid UTF-8 cannot be shown as it is; the run
// must still get its exact bytes, until the user edits the field.
void FrmNorvaleTest::pressRunsOnExactBytes() {
  const fs::path home = m_root / "h\xff";
  useHome(home);
  writeFile(home / "Favorites/a.url",
            "[InternetShortcut]\r\nURL=http://a/\r\n");
  writeFile(home / "Favorites/News/b.url",
            "[DEFAULT]\r\nBASEURL=x\r\n[InternetShortcut]\r\nURL=http://b/\r\n"
            "IconIndex=0\r\n");
  frmNorvale window;
  window.Form_Load();
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  MessageCatcher catcher;
  QTest::mouseClick(window.cmdGo, Qt::LeftButton);

  QCOMPARE(catcher.seen, {box(QMessageBox::Information, "Finished",
                              "Compressed 2 favorites.")});
  const fs::path out = home / "Desktop/Compressed Favorites";
  QVERIFY(fs::exists(out / "a.url"));
  QCOMPARE(readFile(out / "News/b.url"),
           std::string("[InternetShortcut]\r\nURL=http://b/\r\n"));

  const QString typed = window.txtSource->text() + "/News";
  window.txtSource->setText(typed);
  QCOMPARE(window.fieldPath(window.txtSource),
           fs::path(QFile::encodeName(typed).toStdString()));
}

void FrmNorvaleTest::failedRunKeepsTheWindow_data() {
  QTest::addColumn<QString>("source");
  // What the message must name; $ROOT/ stands for the test's folder.
  QTest::addColumn<QString>("names");
  QTest::addColumn<QString>("count");
  QTest::newRow("missing source") << "in/missing"
                                  << "in/missing"
                                  << "No shortcut was written.";
  QTest::newRow("empty source") << ""
                                << ""
                                << "No shortcut was written.";
  // out/b.url is a folder, so the second copy cannot be written.
  QTest::newRow("second copy fails")
      << "in"
      << "out/b.url"
      << "1 of 2 shortcuts were written before this.";
}

void FrmNorvaleTest::failedRunKeepsTheWindow() {
  QFETCH(QString, source);
  QFETCH(QString, names);
  QFETCH(QString, count);
  writeFile(m_root / "in/a.url", "[InternetShortcut]\r\nURL=a\r\n");
  writeFile(m_root / "in/b.url", "[InternetShortcut]\r\nURL=b\r\n");
  fs::create_directories(m_root / "out/b.url");
  const QString root = shown(m_root) + "/";
  const QString sourceText = source.isEmpty() ? "" : root + source;
  frmNorvale window;
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  window.txtSource->setText(sourceText);
  window.txtDest->setText(root + "out");
  MessageCatcher catcher;
  window.cmdGo->click();

  QCOMPARE(catcher.seen.size(), 1);
  const QString text = catcher.seen[0][2];
  QVERIFY2(text.contains(names.replace("$ROOT/", root)) &&
               text.endsWith("\n" + count),
           qPrintable(text));
  QCOMPARE(catcher.seen[0], box(QMessageBox::Critical, "Norvale", text));
  QVERIFY(window.isVisible());
  QCOMPARE(window.txtSource->text(), sourceText);
  QCOMPARE(window.txtDest->text(), root + "out");

  // The window takes input again, and the next press runs afresh.
  window.txtSource->clear();
  QTest::keyClicks(window.txtSource, root + "in");
  window.txtDest->setText(root + "out2");
  window.cmdGo->click();
  QCOMPARE(catcher.seen.size(), 2);
  QCOMPARE(catcher.seen[1][2], QStringLiteral("Compressed 2 favorites."));
}

QTEST_MAIN(FrmNorvaleTest)
#include "frm_norvale_test.moc"
