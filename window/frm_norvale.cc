#include "window/frm_norvale.h"

#include <QByteArray>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <exception>
#include <optional>
#include <string>

#include "run/compression_run.h"
#include "services/error.h"
#include "services/shell_tools.h"
#include "window/run_progress.h"

namespace layout = norvale::layout;

namespace {

// Returns the text shown for `path`; bytes that are not valid UTF-8 show as
// replacement characters, so this is for display only.
QString displayName(const std::filesystem::path &path) {
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

}  // namespace

frmNorvale::frmNorvale(QWidget *parent)
    : QWidget(parent),
      Label1(new QLabel(this)),
      Label2(new QLabel(this)),
      Label3(new QLabel(this)),
      txtSource(new QLineEdit(this)),
      txtDest(new QLineEdit(this)),
      cmdGo(new QPushButton(this)) {
  setWindowTitle(tr("Norvale"));
  QWidget *previous = nullptr;
  for (const layout::Control &control : layout::Controls()) {
    QWidget *widget = widgetFor(control);
    widget->setObjectName(QLatin1String(control.name));
    const QString text = QString::fromUtf8(control.text);
    if (auto *label = qobject_cast<QLabel *>(widget)) {
      // Captions show exactly as written: no markup, no access keys.
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setText(text);
      continue;
    }
    if (widget == cmdGo) cmdGo->setText(text);
    // Labels take no focus; the others follow the table's order, and the
    // first of them has the focus when the window first shows.
    if (previous != nullptr)
      setTabOrder(previous, widget);
    else
      widget->setFocus();
    previous = widget;
  }
  Label1->setWordWrap(true);
  // Enter in a field must not start a run behind the user's back.
  cmdGo->setAutoDefault(false);
  cmdGo->setDefault(false);

  placeControls();
  connect(cmdGo, &QPushButton::clicked, this, &frmNorvale::cmdGo_Click);
}

QWidget *frmNorvale::widgetFor(const layout::Control &control) const {
  const QLatin1String name(control.name);
  if (name == QLatin1String("Label1")) return Label1;
  if (name == QLatin1String("Label2")) return Label2;
  if (name == QLatin1String("Label3")) return Label3;
  if (name == QLatin1String("txtSource")) return txtSource;
  if (name == QLatin1String("txtDest")) return txtDest;
  if (name == QLatin1String("cmdGo")) return cmdGo;
  return nullptr;
}

bool frmNorvale::captionFits(const layout::Control &control,
                             layout::Rect box) const {
  const QWidget *widget = widgetFor(control);
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

void frmNorvale::placeControls() {
  // The style may change fonts and margins when it polishes a widget, so
  // measure only after that.
  for (const layout::Control &control : layout::Controls())
    widgetFor(control)->ensurePolished();
  m_scale = layout::ChooseScale(
      [this](const layout::Control &control, layout::Rect box) {
        return captionFits(control, box);
      });
  for (const layout::Control &control : layout::Controls()) {
    const layout::Rect box = layout::ScaleRect(control.twips, m_scale);
    widgetFor(control)->setGeometry(box.left, box.top, box.width, box.height);
  }
  const layout::Rect client = layout::ClientRect(m_scale);
  setFixedSize(client.width, client.height);
}

void frmNorvale::Form_Load() {
  norvale::ShellTools &shell = norvale::ShellTools::Instance();
  setFieldPath(txtSource,
               shell.SpecialFolderPath(norvale::ShellTools::kFavorites, 0, 0));
  // Joined as text: a desktop path ending in a separator keeps it.
  std::string destination =
      shell.SpecialFolderPath(norvale::ShellTools::kDesktopDirectory, 0, 0)
          .native();
  destination += "/Compressed Favorites";
  setFieldPath(txtDest, std::filesystem::path(destination));
}

void frmNorvale::setFieldPath(QLineEdit *field,
                              const std::filesystem::path &path) {
  ShownPath &shown = field == txtSource ? m_sourceShown : m_destShown;
  shown.path = path;
  shown.text = displayName(path);
  field->setText(shown.text);
}

std::filesystem::path frmNorvale::fieldPath(const QLineEdit *field) const {
  const ShownPath &shown = field == txtSource ? m_sourceShown : m_destShown;
  const QString text = field->text();
  if (!shown.text.isNull() && text == shown.text) return shown.path;
  return std::filesystem::path(QFile::encodeName(text).toStdString());
}

void frmNorvale::cmdGo_Click() {
  // The progress dialog lets the event loop run; one run at a time.
  if (m_running) return;
  m_running = true;
  // Built outside the try so a failure can still tell how far it got.
  std::optional<norvale::CompressionRun> run;
  QString failure;
  bool failed = true;
  size_t count = 0;
  {
    RunProgress progress(this);
    try {
      run.emplace(fieldPath(txtSource), fieldPath(txtDest), &progress);
      count = run->Run();
      failed = false;
    } catch (const norvale::Error &error) {
      failure = QString::fromLocal8Bit(error.what());
    } catch (const std::exception &error) {
      failure = QString::fromLocal8Bit(error.what());
    } catch (...) {
      failure = tr("The run failed.");
    }
  }  // The progress dialog closes before the outcome is shown.
  m_running = false;
  if (failed) {
    const size_t done = run ? run->done() : 0;
    const size_t total = run ? run->total() : 0;
    showMessage(
        QMessageBox::Critical, tr("Norvale"),
        failure + QLatin1String("\n\n") +
            QString::fromStdString(norvale::WrittenBeforeMessage(done, total)));
  } else if (run->cancelled()) {
    showMessage(QMessageBox::Information, tr("Norvale"),
                QString::fromStdString(
                    norvale::CancelledMessage(run->done(), run->total())));
  } else {
    showMessage(QMessageBox::Information, tr("Finished"),
                QString::fromStdString(norvale::FinishedMessage(count)));
  }
}

void frmNorvale::closeEvent(QCloseEvent *event) {
  // A run in progress is stopped with Cancel, not by closing under it.
  if (m_running)
    event->ignore();
  else
    QWidget::closeEvent(event);
}

void frmNorvale::showMessage(QMessageBox::Icon icon, const QString &title,
                             const QString &text) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, this);
  box.exec();
}
