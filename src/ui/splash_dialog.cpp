#include "ui/splash_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace quindelo::ui {

SplashDialog::SplashDialog(Mode mode, QWidget* parent) : QDialog(parent), mode_(mode) {
  setWindowTitle(QString::fromLatin1(kProductName));
  setAccessibleName(QString::fromLatin1(kProductName));
  auto* layout = new QVBoxLayout(this);

  // A picture that cannot be loaded leaves its place empty; the text stays.
  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("picture"));
  picture->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  picture->setPixmap(Picture());
  picture->setAccessibleName(QString::fromLatin1(kProductName));
  layout->addWidget(picture);

  auto* text = new QLabel(this);
  text->setObjectName(QStringLiteral("productText"));
  text->setTextFormat(Qt::PlainText);
  text->setAlignment(Qt::AlignCenter);
  text->setText(ProductText());
  text->setAccessibleName(text->text().trimmed());
  layout->addWidget(text);

  if (mode == Mode::kSplash) {
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    // The frame keeps the keyboard while the splash shows.
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("splashTimer"));
    timer->setSingleShot(true);
    timer->setInterval(kSplashMilliseconds);
    connect(timer, &QTimer::timeout, this, &QWidget::close);
    timer->start();
  } else {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(QStringLiteral("OK"));
    ok->setAccessibleName(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons, 0, Qt::AlignHCenter);
  }
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QPointer<SplashDialog> SplashDialog::ShowSplash(QWidget* parent) {
  auto* splash = new SplashDialog(Mode::kSplash, parent);
  splash->show();
  splash->raise();
  return splash;
}

void SplashDialog::CloseSplashes() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<SplashDialog*>(widget);
    if (dialog && dialog->mode() == Mode::kSplash) delete dialog;
  }
}

void SplashDialog::ShowAbout(QWidget* parent) {
  SplashDialog about(Mode::kAbout, parent);
  about.exec();
}

QString SplashDialog::ProductText(const QString& build_kind) {
  QString text = QStringLiteral("%1 version %2\n")
                     .arg(QString::fromLatin1(kProductName), QString::fromLatin1(kProductVersion));
  if (!build_kind.isEmpty() &&
      build_kind.compare(QStringLiteral("Release"), Qt::CaseInsensitive) != 0) {
    text += QStringLiteral("%1 %2, built %3 %4\n")
                .arg(build_kind)
                .arg(kBuildNumber)
                .arg(QString::fromLatin1(kBuildDate), QString::fromLatin1(kBuildTime));
  }
  return text;
}

QPixmap SplashDialog::Picture() { return QPixmap(QStringLiteral(":/quindelo/quindelo-splash.png")); }

QIcon SplashDialog::ProgramIcon() { return QIcon(QStringLiteral(":/quindelo/quindelo-64.png")); }

}  // namespace quindelo::ui
