// Tests of the main window: its controls, its defaults and what a press of
// the button shows, on real temporary folders. What a run writes is the
// run's own tests' business; here it need only be started and reported.
#include "window/frm_norvale.h"

#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <filesystem>
#include <future>
#include <string>

#include "terminal/command_line.h"
#include "testing/test_faults.h"
#include "testing/test_folder.h"

namespace fs = std::filesystem;

namespace {

// Returns what a message box shows: icon, title, text and one button.
QStringList Box(QMessageBox::Icon icon, const QString &title,
                const QString &text) {
  return {QString::number(icon), title, text, "1"};
}

}  // namespace

class FrmNorvaleTest : public QObject {
  Q_OBJECT

 private slots:
  // In a font well beyond the one the table was drawn for; captions are
  // measured afresh from the font, so a wrong measure shows as a clipped one.
  void ControlsAndFields() {
    QFont font = QApplication::font();
    font.setPointSize(14);
    QApplication::setFont(font);
    frmNorvale window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("Norvale"));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    // Six controls and nothing else: no menu bar, no status bar.
    const auto controls =
        window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(controls.size(), 6);
    for (QLabel *label : {window.Label1, window.Label2, window.Label3}) {
      const QRect room = label->contentsRect();
      const QRect need = label->fontMetrics().boundingRect(
          QRect(0, 0, room.width(), 100000),
          label->wordWrap() ? Qt::TextWordWrap : 0, label->text());
      QVERIFY2(need.width() <= room.width() && need.height() <= room.height(),
               qPrintable(label->objectName()));
    }
    for (QLineEdit *field : {window.txtSource, window.txtDest})
      QVERIFY(field->minimumSizeHint().height() <= field->height());
    QVERIFY(window.cmdGo->fontMetrics().horizontalAdvance(
                window.cmdGo->text()) < window.cmdGo->width());
    QVERIFY(window.cmdGo->sizeHint().height() <= window.cmdGo->height());
    for (QWidget *a : controls) {
      QVERIFY(window.rect().contains(a->geometry()));
      for (QWidget *b : controls)
        QVERIFY(a == b || !a->geometry().intersects(b->geometry()));
    }
    // Fields and description share their right edge, enlarged or not; each
    // label sits on its field's row.
    const int right = window.Label1->geometry().right();
    QCOMPARE(window.txtSource->geometry().right(), right);
    QCOMPARE(window.txtDest->geometry().right(), right);
    QCOMPARE(window.Label2->y(), window.txtSource->y());
    QCOMPARE(window.Label3->y(), window.txtDest->y());

    // Enter in a field must not start a run.
    QVERIFY(!window.cmdGo->isDefault() && !window.cmdGo->autoDefault());
    QCOMPARE(QApplication::focusWidget(), window.txtSource);
    for (QWidget *next :
         QWidgetList{window.txtDest, window.cmdGo, window.txtSource}) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), next);
    }

    // A screen reader names each field after its label; typing offers the
    // matching folders, not files; a dropped folder goes in with its exact
    // bytes, a dropped file puts its folder.
    norvale::TestFolder root;
    root.Write("Favorites/a.url", norvale::Compact("a"));
    root.Write("Fax.txt", "");
    root.Write("Dropped\xff/a.url", norvale::Compact("a"));
    const auto name = [](QWidget *field) {
      return QAccessible::queryAccessibleInterface(field)->text(
          QAccessible::Name);
    };
    QCOMPARE(name(window.txtSource), QStringLiteral("Source"));
    QCOMPARE(name(window.txtDest), QStringLiteral("Destination"));
    window.txtSource->setFocus();
    QAbstractItemView *popup = window.txtSource->completer()->popup();
    const auto offered = [&] {
      QTest::keyClick(window.txtSource, Qt::Key_Backspace);
      QTest::keyClick(window.txtSource, Qt::Key_A);
      return popup->isVisible() && popup->model()->rowCount() == 1 &&
             popup->model()->index(0, 0).data().toString().startsWith("Fav");
    };
    // "~/" is the home folder, as the run reads it.
    qputenv("HOME", root.path().c_str());
    for (const QString &typed :
         {QFile::decodeName(root.path().c_str()) + "/Fa", QString("~/Fa")}) {
      window.txtSource->clear();
      // As a person types, giving the folders time to be read in the
      // background; typing again shows what was read meanwhile.
      for (const QChar c : typed) {
        QTest::keyClicks(window.txtSource, QString(c));
        QTest::qWait(10);
      }
      QTRY_VERIFY2(offered(), qPrintable(typed));
    }
    // The folder chosen keeps the "~" the user typed.
    QTest::keyClick(popup, Qt::Key_Down);
    QTest::keyClick(popup, Qt::Key_Return);
    QVERIFY2(window.txtSource->text().startsWith("~/Fav"),
             qPrintable(window.txtSource->text()));
    // A web address, dragged with its text as a browser does, names no
    // folder.
    const fs::path folder = root.path() / "Dropped\xff";
    for (const fs::path &dropped : {folder, folder / "a.url", fs::path()}) {
      QMimeData data;
      const QByteArray local =
          QByteArray(dropped.c_str()).toPercentEncoding("/");
      data.setUrls({dropped.empty() ? QUrl("https://example.com/")
                                    : QUrl::fromEncoded("file://" + local)});
      data.setText("https://example.com/");
      QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton,
                            Qt::NoModifier);
      QApplication::sendEvent(window.txtDest, &enter);
      QCOMPARE(enter.isAccepted(), !dropped.empty());
      QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton,
                      Qt::NoModifier);
      QApplication::sendEvent(window.txtDest, &drop);
      QCOMPARE(window.FieldPath(window.txtDest), folder);
    }
  }

  // The defaults come from the home folder, or the command line; one not
  // valid UTF-8 reaches the run with its exact bytes. A failure is reported,
  // naming the path, and leaves the window taking input.
  void PressesRunOnTheFieldsAndReport() {
    norvale::TestFolder root;
    const fs::path home = root.path() / "h\xff";
    qputenv("HOME", home.c_str());
    qputenv("XDG_CONFIG_HOME", (home / ".config").c_str());
    root.Write("h\xff/Favorites/a.url", norvale::Compact("a"));
    root.Write("h\xff/Favorites/News/b.url", norvale::Compact("a"));
    frmNorvale window;
    // Started as "Norvale A B", the folders given take the defaults' place.
    window.Form_Load(norvale::ParseCommandLine({"/A", "/B"}));
    QCOMPARE(window.txtSource->text() + window.txtDest->text(), "/A/B");
    window.Form_Load();
    const QString shown = QFile::decodeName(home.c_str());
    QCOMPARE(window.txtSource->text(), shown + "/Favorites");
    QCOMPARE(window.txtDest->text(), shown + "/Desktop/Compressed Favorites");
    window.show();
    // Filled as at start, the window still has the focus in the source.
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(QApplication::focusWidget(), window.txtSource);
    // Answers every message box, keeping what each showed.
    QList<QStringList> seen;
    QTimer catcher;
    QObject::connect(&catcher, &QTimer::timeout, [&] {
      auto *message_box =
          qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!message_box) return;
      seen << QStringList{QString::number(message_box->icon()),
                          message_box->windowTitle(), message_box->text(),
                          QString::number(message_box->buttons().size())};
      message_box->done(QMessageBox::Ok);
    });
    catcher.start(10);
    QTest::mouseClick(window.cmdGo, Qt::LeftButton);
    QVERIFY(fs::exists(home / "Desktop/Compressed Favorites/News/b.url"));

    QTest::keyClicks(window.txtSource, "/Missing");
    const QString typed = shown + "/Favorites/Missing";
    QCOMPARE(window.FieldPath(window.txtSource),
             fs::path(QFile::encodeName(typed).toStdString()));
    window.cmdGo->click();
    const QString text = seen.value(1).value(2);
    QVERIFY2(text.contains(typed), qPrintable(text));
    QCOMPARE(seen,
             (QList<QStringList>{Box(QMessageBox::Information, "Finished",
                                     "Compressed 2 favorites.\n\n2 copies "
                                     "written, 0 up to date already."),
                                 Box(QMessageBox::Critical, "Norvale", text)}));
    QVERIFY(window.isVisible());
  }

  // The run works on a thread of its own: while it waits on a disk that
  // does not answer, the window draws its progress and takes Cancel at once;
  // it does not close. While flushing, neither Cancel, Escape nor closing
  // hides the progress. Keys and clicks before the progress change nothing.
  void RunsOnAThreadOfItsOwn() {
    norvale::TestFolder root;
    for (const char *name : {"a.url", "hold.url", "z.url"})
      root.Write(std::string("Src/") + name, norvale::Compact("a"));
    frmNorvale window;
    window.SetFieldPath(window.txtSource, root.path() / "Src");
    window.SetFieldPath(window.txtDest, root.path() / "Out");
    window.progress_after_ = std::chrono::milliseconds(300);
    const QString fields = window.txtSource->text() + window.txtDest->text();
    window.show();
    for (const bool flushing : {false, true}) {
      // Offscreen, the window is not active again after a message box.
      window.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&window));
      std::promise<void> release;
      std::shared_future<void> released = release.get_future().share();
      std::atomic<bool> held{false};
      const auto hold = [&] {
        if (!held.exchange(true)) released.wait();
      };
      norvale::faults::Plan plan;
      if (flushing) {
        plan.before_flush = hold;
      } else {
        plan.before_open = [&](const char *name) {
          if (std::string(name) == "hold.url") hold();
        };
      }
      norvale::faults::Scoped faults(plan);
      QStringList seen;
      QTimer::singleShot(0, [&] {
        // As the keyboard and mouse give them, to the window rather than to
        // a widget: a click moves the focus before a widget sees it.
        seen << QString::number(QApplication::activeModalWidget() != nullptr);
        QWindow *handle = window.windowHandle();
        for (const char key : {'\t', 'Z', 'Z', 'Z'})
          QTest::keyClick(handle, key);
        QTest::mouseClick(handle, Qt::LeftButton, {},
                          window.txtDest->geometry().center());
        QTest::keyClick(handle, 'Y');
        const QWidget *focus = QApplication::focusWidget();
        seen << window.txtSource->text() + window.txtDest->text()
             << (focus != nullptr ? focus->objectName() : "no focus");
        QProgressDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = qobject_cast<QProgressDialog *>(
                         QApplication::activeModalWidget())) &&
                    held);
        QPushButton *cancel = dialog->findChild<QPushButton *>();
        seen << dialog->labelText() << QString::number(cancel->isEnabled())
             << QString::number(window.close());
        // Shown again when the progress is next drawn, a dialog hidden for a
        // moment is seen only at once.
        QString shown;
        cancel->click();
        shown += QString::number(dialog->isVisible());
        QTest::keyClick(dialog, Qt::Key_Escape);
        shown += QString::number(dialog->isVisible());
        dialog->close();
        shown += QString::number(dialog->isVisible());
        QTest::qWait(120);
        seen << dialog->labelText() << shown;
        release.set_value();
      });
      QTimer answer;
      QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(
                QApplication::activeModalWidget())) {
          seen << box->text();
          box->done(QMessageBox::Ok);
        }
      });
      answer.start(10);
      // As pressed, with the focus on the button.
      window.cmdGo->setFocus();
      window.cmdGo_Click();
      // The progress before the typing, fields and focus after it; captions,
      // Cancel offered, the window closed, and the dialog through Cancel,
      // Escape and its close box.
      const QStringList typed = {"0", fields, "cmdGo"};
      const QStringList expected =
          typed +
          (flushing ? QStringList{"Saving the copies to the disk...", "0", "0",
                                  "Saving the copies to the disk...", "111",
                                  "Compressed 3 favorites.\n\n3 copies "
                                  "written, 0 up to date already."}
                    : QStringList{"Compressing favorites...\n1 of 3", "1", "0",
                                  "Stopping once the disk answers...", "111",
                                  "Cancelled. 2 of 3 shortcuts were written."});
      QCOMPARE(seen, expected);
      std::filesystem::remove_all(root.path() / "Out");
    }
  }
};

QTEST_MAIN(FrmNorvaleTest)
#include "frm_norvale_test.moc"
