// Tests that a long run shows its progress and can be stopped, and that a
// short one shows nothing.
#include "window/run_progress.h"

#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <string>

#include "services/test_folder.h"

namespace {

// A source of `count` files named `*.extension` in a few folders.
void fill(const norvale::TestFolder &source, int count,
          const std::string &extension = "url") {
  for (int i = 0; i < count; ++i) {
    source.Write(
        "F" + std::to_string(i % 4) + "/s" + std::to_string(i) + "." +
            extension,
        "[InternetShortcut]\r\nURL=http://a/" + std::to_string(i) + "\r\n");
  }
}

}  // namespace

class RunProgressTest : public QObject {
  Q_OBJECT

 private slots:
  void shortRunShowsNothing() {
    norvale::TestFolder source, dest;
    fill(source, 20);
    QWidget window;
    RunProgress progress(&window);
    norvale::CompressionRun run(source.path(), dest.path(), &progress);
    QCOMPARE(run.Run(), size_t{20});
    QVERIFY(progress.dialog() == nullptr);
  }

  void cancelStopsAfterTheShortcutInHand_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("phase");
    QTest::addColumn<size_t>("total");
    QTest::newRow("while looking") << "url"
                                   << "Looking for shortcuts..." << size_t{0};
    // A tree of many files and no shortcut, such as a home folder.
    QTest::newRow("while looking among other files")
        << "txt"
        << "Looking for shortcuts..." << size_t{0};
    QTest::newRow("while compressing")
        << "url"
        << "Compressing favorites..." << size_t{400};
  }

  void cancelStopsAfterTheShortcutInHand() {
    QFETCH(QString, extension);
    QFETCH(QString, phase);
    QFETCH(size_t, total);
    norvale::TestFolder source, dest;
    fill(source, 400, extension.toStdString());
    QWidget window;
    // Shown at once and painted at every step, so each phase is met.
    RunProgress progress(&window, 0, 0);
    // Presses Cancel once the dialog tells of the phase under test.
    QTimer presser;
    connect(&presser, &QTimer::timeout, this, [&] {
      QProgressDialog *dialog = progress.dialog();
      if (dialog == nullptr) return;
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Norvale"));
      QVERIFY(dialog->isModal());
      if (dialog->labelText().startsWith(phase)) dialog->cancel();
    });
    presser.start(0);
    norvale::CompressionRun run(source.path(), dest.path(), &progress);
    run.Run();
    QVERIFY(run.cancelled());
    QCOMPARE(run.total(), total);  // Stopped in the phase under test.
    // One copy for each shortcut done before the stop, and no more.
    QVERIFY(run.done() < 400);
    size_t copies = 0;
    for (const auto &entry :
         std::filesystem::recursive_directory_iterator(dest.path()))
      copies += entry.is_regular_file();
    QCOMPARE(copies, run.done());
  }
};

QTEST_MAIN(RunProgressTest)
#include "run_progress_test.moc"
