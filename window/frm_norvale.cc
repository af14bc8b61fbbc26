#include "window/frm_norvale.h"

#include <QByteArray>
#include <QCloseEvent>
#include <QCompleter>
#include <QCoreApplication>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include "run/background_run.h"
#include "run/folder_field.h"
#include "run/run_report.h"
#include "services/shell_folders.h"
#include "window/run_progress.h"

namespace layout = norvale::layout;

namespace {

// Returns the text shown for `path`; bytes that are not valid UTF-8 show as
// replacement characters, so this is for display only.
QString DisplayName(const std::filesystem::path &path) {
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

// Offers the folders that match what is typed, reading it as a run does:
// "~" alone or "~/..." is the home folder there too.
class FolderCompleter : public QCompleter {
 public:
  FolderCompleter(QAbstractItemModel *model, QObject *parent)
      : QCompleter(model, parent) {}

  QStringList splitPath(const QString &path) const override {
    const QString home = HomeText();
    if (home.isEmpty() || !IsAtHome(path)) return QCompleter::splitPath(path);
    return QCompleter::splitPath(home + path.mid(1));
  }

  // The chosen folder keeps the "~" the user typed.
  QString pathFromIndex(const QModelIndex &index) const override {
    const QString path = QCompleter::pathFromIndex(index);
    const auto *field = qobject_cast<const QLineEdit *>(widget());
    const QString home = HomeText();
    if (field == nullptr || home.isEmpty() || !IsAtHome(field->text()) ||
        !path.startsWith(home))
      return path;
    return QLatin1Char('~') + path.mid(home.size());
  }

 private:
  static bool IsAtHome(const QString &text) {
    return text == QLatin1String("~") || text.startsWith(QLatin1String("~/"));
  }
  // The home folder as shown, without a separator at its end.
  static QString HomeText() {
    QString home =
        QFile::decodeName(QByteArray::fromStdString(norvale::HomeFolder()));
    while (home.endsWith(QLatin1Char('/'))) home.chop(1);
    return home;
  }
};

// Keeps keys and clicks from `window` for as long as it lives, as a modal
// window would, without changing how `window` looks. Both the window's own
// events, which move the focus before a widget sees them, and those sent to
// its widgets are taken; other windows, such as a progress dialog, still
// get theirs.
class InputBlock : public QObject {
 public:
  explicit InputBlock(QWidget *window) : window_(window) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~InputBlock() override {
    QCoreApplication::instance()->removeEventFilter(this);
  }

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (!IsInput(event->type())) return false;
    if (watched == window_->windowHandle()) return true;
    const auto *widget = qobject_cast<const QWidget *>(watched);
    return widget != nullptr && widget->window() == window_;
  }

 private:
  static bool IsInput(QEvent::Type type) {
    switch (type) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::InputMethod:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
        return true;
      default:
        return false;
    }
  }

  QWidget *window_;
};

}  // namespace

frmNorvale::frmNorvale(QWidget *parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("Norvale"));
  QWidget *previous = nullptr;
  for (const layout::Control &control : layout::Controls()) {
    const QString text = QString::fromUtf8(control.text);
    QWidget *widget = nullptr;
    switch (control.kind) {
      case layout::Kind::kLabel: {
        // Captions show exactly as written: no markup, no access keys.
        auto *label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case layout::Kind::kTextBox:
        widget = new QLineEdit(this);
        break;
      case layout::Kind::kButton:
        widget = new QPushButton(text, this);
        break;
    }
    widget->setObjectName(QLatin1String(control.name));
    controls_[control.tab_index] = widget;
    if (control.kind == layout::Kind::kLabel) continue;
    // Labels take no focus; the others follow the table's order, and the
    // first of them has the focus when the window first shows.
    if (previous != nullptr)
      setTabOrder(previous, widget);
    else
      widget->setFocus();
    previous = widget;
  }
  Label1 = static_cast<QLabel *>(controls_[layout::kLabel1]);
  Label2 = static_cast<QLabel *>(controls_[layout::kLabel2]);
  Label3 = static_cast<QLabel *>(controls_[layout::kLabel3]);
  txtSource = static_cast<QLineEdit *>(controls_[layout::kTxtSource]);
  txtDest = static_cast<QLineEdit *>(controls_[layout::kTxtDest]);
  cmdGo = static_cast<QPushButton *>(controls_[layout::kCmdGo]);
  Label1->setWordWrap(true);
  // Enter in a field must not start a run behind the user's back.
  cmdGo->setAutoDefault(false);
  cmdGo->setDefault(false);

  // One model of the folders serves both fields' completion, so the tree
  // is read and watched once.
  auto *folders = new QFileSystemModel(this);
  folders->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
  folders->setRootPath(QString());
  PrepareField(txtSource, Label2, folders);
  PrepareField(txtDest, Label3, folders);
  PlaceControls();
  connect(cmdGo, &QPushButton::clicked, this, &frmNorvale::cmdGo_Click);
}

void frmNorvale::PrepareField(QLineEdit *field, QLabel *label,
                              QFileSystemModel *folders) {
  // The caption has no "&", so being the buddy gives no access key.
  label->setBuddy(field);
  QString name = label->text();
  if (name.endsWith(QLatin1Char(':'))) name.chop(1);
  field->setAccessibleName(name);
  // Completion only suggests; nothing is checked while the user types.
  auto *completer = new FolderCompleter(folders, field);
  completer->setCaseSensitivity(Qt::CaseSensitive);
  field->setCompleter(completer);
  field->installEventFilter(this);
}

bool frmNorvale::eventFilter(QObject *watched, QEvent *event) {
  auto *field = qobject_cast<QLineEdit *>(watched);
  if (field == nullptr) return QWidget::eventFilter(watched, event);
  if (event->type() != QEvent::DragEnter && event->type() != QEvent::DragMove &&
      event->type() != QEvent::Drop)
    return QWidget::eventFilter(watched, event);
  auto *drop = static_cast<QDropEvent *>(event);
  const QList<QUrl> urls = drop->mimeData()->urls();
  // Text the field takes as text; a web address, which a browser drags
  // with its text too, names no folder and is refused.
  if (urls.isEmpty()) return false;
  if (!urls.first().isLocalFile()) {
    drop->ignore();
    return true;
  }
  drop->acceptProposedAction();
  if (event->type() == QEvent::Drop) {
    // The path's own bytes, not its text, which may not be valid UTF-8.
    const QByteArray bytes = QByteArray::fromPercentEncoding(
        urls.first().path(QUrl::FullyEncoded).toLatin1());
    SetFieldPath(field, norvale::DroppedFolder(bytes.toStdString()));
  }
  return true;
}

bool frmNorvale::CaptionFits(const layout::Control &control,
                             layout::Rect box) const {
  const QWidget *widget = WidgetFor(control);
  const QSize hint = widget->sizeHint();
  switch (control.kind) {
    case layout::Kind::kLabel:
      if (widget == Label1) {
        // The label's own measure of its wrapped text, so what is measured
        // is what it draws.
        return Label1->heightForWidth(box.width) <= box.height;
      }
      return hint.width() <= box.width && hint.height() <= box.height;
    case layout::Kind::kTextBox:
      // A field's width is for the user's text; only a line must fit.
      return hint.height() <= box.height;
    case layout::Kind::kButton:
      return hint.width() <= box.width && hint.height() <= box.height;
  }
  return false;
}

void frmNorvale::PlaceControls() {
  // The style may change fonts and margins when it polishes a widget, so
  // measure only after that.
  for (const layout::Control &control : layout::Controls())
    WidgetFor(control)->ensurePolished();
  const double scale = layout::ChooseScale(
      [this](const layout::Control &control, layout::Rect box) {
        return CaptionFits(control, box);
      });
  for (const layout::Control &control : layout::Controls()) {
    const layout::Rect box = layout::ScaleRect(control.twips, scale);
    WidgetFor(control)->setGeometry(box.left, box.top, box.width, box.height);
  }
  const layout::Rect client = layout::ClientRect(scale);
  setFixedSize(client.width, client.height);
}

void frmNorvale::Form_Load(const norvale::CommandLine &command) {
  const norvale::DefaultFolders folders = norvale::FindDefaultFolders();
  SetFieldPath(txtSource,
               command.source.empty() ? folders.source : command.source);
  SetFieldPath(txtDest, command.destination.empty() ? folders.destination
                                                    : command.destination);
}

void frmNorvale::SetFieldPath(QLineEdit *field,
                              const std::filesystem::path &path) {
  ShownPath &shown = field == txtSource ? source_shown_ : dest_shown_;
  shown.path = path;
  shown.text = DisplayName(path);
  field->setText(shown.text);
}

std::filesystem::path frmNorvale::FieldPath(const QLineEdit *field) const {
  const ShownPath &shown = field == txtSource ? source_shown_ : dest_shown_;
  const QString text = field->text();
  if (!shown.text.isNull() && text == shown.text) return shown.path;
  return std::filesystem::path(QFile::encodeName(text).toStdString());
}

void frmNorvale::cmdGo_Click() {
  // The window goes on drawing while the run works; one run at a time.
  if (running_) return;
  running_ = true;
  norvale::Message message;
  {
    // From the press until the run ends the window takes no input, as under
    // the progress dialog that shows only later: keys and clicks would
    // otherwise change the fields beside a run that has already read them.
    InputBlock block(this);
    QEventLoop loop;
    norvale::BackgroundRun *running = nullptr;
    RunProgress progress(this, [&running] { running->Cancel(); });
    norvale::BackgroundRun run(
        FieldPath(txtSource), FieldPath(txtDest),
        [&loop] {
          QMetaObject::invokeMethod(&loop, &QEventLoop::quit,
                                    Qt::QueuedConnection);
        },
        progress_after_);
    running = &run;
    // The progress is drawn at most every 50 ms, whatever the run does.
    QTimer draw;
    connect(&draw, &QTimer::timeout, [&] {
      if (const auto view = run.Now()) progress.Show(*view);
    });
    draw.start(50);
    if (!run.ended()) loop.exec();
    message = run.outcome();
  }  // The progress dialog closes before the outcome is shown.
  running_ = false;
  QMessageBox box(message.icon == norvale::Message::Icon::kError
                      ? QMessageBox::Critical
                  : message.icon == norvale::Message::Icon::kWarning
                      ? QMessageBox::Warning
                      : QMessageBox::Information,
                  QString::fromLocal8Bit(message.title),
                  QString::fromLocal8Bit(message.text), QMessageBox::Ok, this);
  box.exec();
}

void frmNorvale::closeEvent(QCloseEvent *event) {
  // A run in progress is stopped with Cancel, not by closing under it.
  if (running_)
    event->ignore();
  else
    QWidget::closeEvent(event);
}
