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

 protected:
  void closeEvent(QCloseEvent *event) override;
  // Takes a folder or file dropped on either field.
  bool eventFilter(QObject *watched, QEvent *event) override;

 private slots:
  // Runs one compression from txtSource to txtDest and reports how it
  // went; never throws, a failure is shown and the window stays open.
  void cmdGo_Click();

 private:
  // Its tests look at the controls and shorten the progress delay.
  friend class FrmNorvaleTest;

  // A path as Form_Load or a drop set it, beside the text shown for it;
  // the text alone may have lost bytes that are not valid UTF-8.
  struct ShownPath {
    QString text;
    std::filesystem::path path;
  };

  // Returns the folder a run would take from txtSource or txtDest: the
  // exact path Form_Load or a drop put there while the text is unchanged,
  // else the typed text in the file system's encoding.
  std::filesystem::path FieldPath(const QLineEdit *field) const;
  // Puts `path` in txtSource or txtDest, keeping its exact bytes for the
  // run while the text shown for it is unchanged.
  void SetFieldPath(QLineEdit *field, const std::filesystem::path &path);

  // Returns the widget that stands for `control` in the table.
  QWidget *WidgetFor(const norvale::layout::Control &control) const {
    return controls_[control.tab_index];
  }
  // Returns whether `control`'s caption shows in full in `box`.
  bool CaptionFits(const norvale::layout::Control &control,
                   norvale::layout::Rect box) const;
  // Picks the scale at which every caption fits, and places the controls
  // and sizes the window by it.
  void PlaceControls();
  // Names each field after its label for screen readers, offers folders
  // while typing, and takes drops.
  void PrepareField(QLineEdit *field, QLabel *label, QFileSystemModel *folders);

  // The controls in the table's order, and each by its own name.
  std::array<QWidget *, 6> controls_;
  QLabel *Label1;
  QLabel *Label2;
  QLabel *Label3;
  QLineEdit *txtSource;
  QLineEdit *txtDest;
  QPushButton *cmdGo;

  ShownPath source_shown_;
  ShownPath dest_shown_;
  bool running_ = false;
  // How long a run goes before its progress shows.
  std::chrono::milliseconds progress_after_{500};
};

#endif  // NORVALE_WINDOW_FRM_NORVALE_H_
