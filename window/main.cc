// Starts Norvale: its one window, filled with the default folders or the
// folders given, unless the command line asks for no window at all.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QString>
#include <exception>
#include <filesystem>
#include <vector>

#include "terminal/command_line.h"
#include "terminal/run_in_terminal.h"
#include "window/frm_norvale.h"

int main(int argc, char *argv[]) {
  // The command line is read before Qt sees it, so that a run without a
  // window needs no display, and a folder's name is never taken for one
  // of Qt's own options.
  const norvale::CommandLine command = norvale::ParseCommandLine(
      std::vector<std::filesystem::path>(argv + 1, argv + argc));
  if (command.action != norvale::CommandLine::Action::kWindow)
    return norvale::RunInTerminal(command);

  int qt_argc = 1;
  QApplication app(qt_argc, argv);
  QApplication::setApplicationName(QStringLiteral("Norvale"));
  QApplication::setApplicationVersion(QStringLiteral("1.00"));
  // Lets the desktop match the window to the installed menu entry.
  QApplication::setDesktopFileName(QStringLiteral("norvale"));
  // The icon's sizes are rendered from norvale.svg and compiled in.
  QIcon icon;
  for (const QFileInfo &size : QDir(QStringLiteral(":/icons")).entryInfoList())
    icon.addFile(size.filePath());
  QApplication::setWindowIcon(icon);

  frmNorvale window;
  try {
    window.Form_Load(command);
  } catch (const std::exception &error) {
    // Without its folders the window has nothing to offer; say why and end.
    QMessageBox::critical(nullptr, QStringLiteral("Norvale"),
                          QString::fromLocal8Bit(error.what()));
    return 1;
  }
  window.show();
  return app.exec();
}
