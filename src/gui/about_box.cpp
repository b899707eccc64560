#include "gui/about_box.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "core/base/version.h"
#include "gui/main_window.h"
#include "gui/twips.h"

namespace ril {

const char* const AboutBox::kAuthor = "The Rilmaton developers";
const char* const AboutBox::kWebAddress = "https://rilmaton.example/";

namespace {

QFont boxFont(double points) {
  QFont font;
  // MS Sans Serif, or the nearest face this system has.
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                    QStringLiteral("DejaVu Sans")});
  font.setPointSizeF(points);
  font.setBold(true);
  return font;
}

}  // namespace

AboutBox::AboutBox(AppContext& ctx)
    : QWidget(ctx.mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                  Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ctx_(ctx) {
  ctx_.aboutBox = this;
  setObjectName(QStringLiteral("aboutBox"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("About Rilmaton"));
  setFixedSize(twipsToPixelsX(4545, this), twipsToPixelsY(3570, this));

  struct LabelLayout {
    QLabel** label;
    const char* name;
    QString text;
    double points;
    double left, top, width, height;
    bool wraps;
  };
  const LabelLayout labels[] = {
      {&titleLabel, "titleLabel", QStringLiteral("Rilmaton ") + QString::fromLatin1(kVersionText),
       18, 735, 240, 3075, 435, false},
      {&descriptionLabel, "descriptionLabel",
       QStringLiteral("statistical analysis and application of De-emphasis of WAV-files"), 9.75,
       720, 720, 3015, 735, true},
      {&byLabel, "byLabel", QStringLiteral("by"), 9.75, 2160, 1560, 285, 240, false},
      {&authorLabel, "authorLabel", QString::fromLatin1(kAuthor), 9.75, 1200, 1920, 2220, 240,
       false},
      {&webAddressLabel, "webAddressLabel", QString::fromLatin1(kWebAddress), 9.75, 960, 2280, 2640,
       240, false},
  };
  const int clientWidth = width();
  for (const LabelLayout& layout : labels) {
    auto* label = new QLabel(layout.text, this);
    label->setObjectName(QString::fromLatin1(layout.name));
    label->setFont(boxFont(layout.points));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setWordWrap(layout.wraps);
    label->setTextFormat(Qt::PlainText);
    QRect box(twipsToPixelsX(layout.left, this), twipsToPixelsY(layout.top, this),
              twipsToPixelsX(layout.width, this), twipsToPixelsY(layout.height, this));
    // A one-line text wider than its box (a face standing in for MS Sans Serif
    // may run a little wider) grows the box evenly about its centre, so that
    // nothing is cut off.
    if (!layout.wraps) {
      const int needed = QFontMetrics(label->font()).horizontalAdvance(layout.text) + 4;
      if (needed > box.width()) {
        const int grown = std::min(needed, clientWidth);
        const int left = std::clamp(box.center().x() - grown / 2, 0, clientWidth - grown);
        box.setLeft(left);
        box.setWidth(grown);
      }
    }
    label->setGeometry(box);
    *layout.label = label;
  }

  okButton = new QPushButton(QStringLiteral("OK"), this);
  okButton->setObjectName(QStringLiteral("okButton"));
  okButton->setFont(boxFont(8.25));
  okButton->setGeometry(twipsToPixelsX(1440, this), twipsToPixelsY(2760, this),
                        twipsToPixelsX(1575, this), twipsToPixelsY(495, this));
  okButton->setAutoDefault(true);
  okButton->setDefault(true);
  okButton->setFocus();
  connect(okButton, &QPushButton::clicked, this, &QWidget::close);
}

AboutBox::~AboutBox() = default;

float AboutBox::centredPosition(float mainExtent, float aboutExtent, float mainOrigin) {
  return (mainExtent - aboutExtent) / 2.0f + mainOrigin;
}

void AboutBox::centreOverMainWindow() {
  MainWindow* main = ctx_.mainWindow;
  if (!main) return;
  const float left =
      centredPosition(static_cast<float>(main->widthTwips()), static_cast<float>(widthTwips()),
                      static_cast<float>(main->leftTwips()));
  const float top =
      centredPosition(static_cast<float>(main->heightTwips()), static_cast<float>(heightTwips()),
                      static_cast<float>(main->topTwips()));
  move(twipsToPixelsX(left, this), twipsToPixelsY(top, this));
}

double AboutBox::leftTwips() const {
  return pixelsToTwipsX(frameGeometry().x(), this);
}
double AboutBox::topTwips() const {
  return pixelsToTwipsY(frameGeometry().y(), this);
}

// Before the box has been framed by the window manager, its frame is taken to
// be as wide as the main window's (title bar and border; the menu bar is part
// of the main window's inner size, not of its frame).
namespace {
QSize frameExtra(const QWidget* window) {
  return {std::max(0, window->frameGeometry().width() - window->width()),
          std::max(0, window->frameGeometry().height() - window->height())};
}
}  // namespace

double AboutBox::widthTwips() const {
  QSize extra = frameExtra(this);
  if (extra.isNull() && ctx_.mainWindow) extra = frameExtra(ctx_.mainWindow);
  return pixelsToTwipsX(width() + extra.width(), this);
}

double AboutBox::heightTwips() const {
  QSize extra = frameExtra(this);
  if (extra.isNull() && ctx_.mainWindow) extra = frameExtra(ctx_.mainWindow);
  return pixelsToTwipsY(height() + extra.height(), this);
}

void showAboutBox(AppContext& ctx) {
  if (!ctx.aboutBox) {
    auto* box = new AboutBox(ctx);
    box->centreOverMainWindow();
  }
  ctx.aboutBox->show();
  ctx.aboutBox->raise();
  ctx.aboutBox->activateWindow();
}

}  // namespace ril
