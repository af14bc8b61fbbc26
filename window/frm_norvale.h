// The main window: what Norvale does, the two folder fields and the button
// that starts a compression run.
#ifndef NORVALE_WINDOW_FRM_NORVALE_H_
#define NORVALE_WINDOW_FRM_NORVALE_H_

#include <QString>
#include <QWidget>
#include <array>
#include <chrono>
#include <filesystem>

#include "terminal/command_line.h"
#include "window/layout.h"

class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;

class frmNorvale : public QWidget {
  Q_OBJECT

 public:
  explicit frmNorvale(QWidget *parent = nullptr);

  // Fills txtSource with the Favorites folder and txtDest with
  // "Compressed Favorites" on the desktop, then with the folders `command`
  // gives in their place; throws norvale::Error when either default folder
  // cannot be found.
  void Form_Load(const norvale::CommandLine &command = {});

  // Returns the folder a run would take from txtSource or txtDest: the
  // exact path Form_Load or a drop put there while the text is unchanged,
  // else the typed text in the file system's encoding.
  std::filesystem::path fieldPath(const QLineEdit *field) const;
  // Puts `path` in txtSource or txtDest, keeping its exact bytes for the
  // run while the text shown for it is unchanged.
  void setFieldPath(QLineEdit *field, const std::filesystem::path &path);

  QLabel *Label1;
  QLabel *Label2;
  QLabel *Label3;
  QLineEdit *txtSource;
  QLineEdit *txtDest;
  QPushButton *cmdGo;

  // How long a run goes before its progress shows; tests shorten it.
  std::chrono::milliseconds progressAfter{500};

 public slots:
  // Runs one compression from txtSource to txtDest and reports how it
  // went; never throws, a failure is shown and the window stays open.
  void cmdGo_Click();

 protected:
  void closeEvent(QCloseEvent *event) override;
  // Takes a folder or file dropped on either field.
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  // A path as Form_Load or a drop set it, beside the text shown for it;
  // the text alone may have lost bytes that are not valid UTF-8.
  struct ShownPath {
    QString text;
    std::filesystem::path path;
  };

  // Returns the widget that stands for `control` in the table.
  QWidget *widgetFor(const norvale::layout::Control &control) const {
    return m_controls[control.tab_index];
  }
  // Returns whether `control`'s caption shows in full in `box`.
  bool captionFits(const norvale::layout::Control &control,
                   norvale::layout::Rect box) const;
  void placeControls();
  // Names each field after its label for screen readers, offers folders
  // while typing, and takes drops.
  void prepareField(QLineEdit *field, QLabel *label, QFileSystemModel *folders);

  std::array<QWidget *, 6> m_controls;
  ShownPath m_sourceShown;
  ShownPath m_destShown;
  bool m_running = false;
};

#endif  // NORVALE_WINDOW_FRM_NORVALE_H_
