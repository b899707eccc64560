#include "gui/level_view.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QSaveFile>
#include <QVector>

namespace ril {

namespace {

QColor qColour(const Colour& c) {
  return QColor(c.r, c.g, c.b);
}

QPen penOf(const Shape& s) {
  QPen pen(qColour(s.colour), s.width);
  if (s.dashed) pen.setDashPattern({4 / s.width, 3 / s.width});
  pen.setCapStyle(Qt::FlatCap);
  return pen;
}

void paintText(QPainter& painter, const Shape& s) {
  QFont font = painter.font();
  font.setPixelSize(static_cast<int>(s.size));
  painter.setFont(font);
  painter.setPen(qColour(s.colour));
  const QString text = QString::fromStdString(s.text);
  const double width = QFontMetricsF(font).horizontalAdvance(text);
  const double shift = s.anchor == Shape::Anchor::kStart    ? 0
                       : s.anchor == Shape::Anchor::kMiddle ? width / 2
                                                            : width;
  painter.drawText(QPointF(s.points[0] - shift, s.points[1]), text);
}

}  // namespace

void paintPicture(QPainter& painter, const LevelPicture& picture) {
  painter.save();
  for (const Shape& s : picture.shapes) {
    const std::vector<double>& p = s.points;
    painter.setRenderHint(QPainter::Antialiasing,
                          s.kind == Shape::Kind::kPolyline || s.kind == Shape::Kind::kText);
    switch (s.kind) {
      case Shape::Kind::kRect:
        painter.fillRect(QRectF(p[0], p[1], p[2], p[3]), qColour(s.colour));
        break;
      case Shape::Kind::kLine:
        painter.setPen(penOf(s));
        painter.drawLine(QPointF(p[0], p[1]), QPointF(p[2], p[3]));
        break;
      case Shape::Kind::kBars: {
        QVector<QLineF> lines;
        for (std::size_t i = 0; i + 2 < p.size(); i += 3) {
          lines.append(QLineF(p[i], p[i + 1], p[i], p[i + 2]));
        }
        painter.setPen(penOf(s));
        painter.drawLines(lines);
        break;
      }
      case Shape::Kind::kPolyline: {
        QVector<QPointF> points;
        for (std::size_t i = 0; i + 1 < p.size(); i += 2) points.append(QPointF(p[i], p[i + 1]));
        painter.setPen(penOf(s));
        painter.drawPolyline(points.data(), static_cast<int>(points.size()));
        break;
      }
      case Shape::Kind::kText:
        paintText(painter, s);
        break;
    }
  }
  painter.restore();
}

LevelView::LevelView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("levelView"));
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void LevelView::setAnalysis(const AnalysisResult& result, double sampleRate) {
  result_ = result;
  sampleRate_ = sampleRate;
  drawn_ = false;
  pointer_.clear();
  update();
}

int LevelView::lineHeight() const {
  return QFontMetrics(font()).height() + 2;
}

const LevelPicture& LevelView::picture() {
  const int height = std::max(0, this->height() - lineHeight());
  if (!drawn_ || picture_.width != width() || picture_.height != height) {
    picture_ = drawLevels(result_, sampleRate_, width(), height);
    drawn_ = true;
  }
  return picture_;
}

QImage LevelView::image() {
  const LevelPicture& p = picture();
  QImage image(std::max(p.width, 1), std::max(p.height, 1), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  paintPicture(painter, p);
  return image;
}

bool LevelView::savePng(const QString& path, QString& why) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || !image().save(&file, "PNG") || !file.commit()) {
    why = file.errorString();
    return false;
  }
  return true;
}

void LevelView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  paintPicture(painter, picture());
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(QRect(0, height() - lineHeight(), width(), lineHeight()),
                   Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("  ") + pointer_);
}

void LevelView::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  const QString text = QString::fromStdString(ril::pointerText(picture(), at.x(), at.y()));
  if (text != pointer_) {
    pointer_ = text;
    update(0, height() - lineHeight(), width(), lineHeight());
  }
  QWidget::mouseMoveEvent(event);
}

void LevelView::leaveEvent(QEvent* event) {
  pointer_.clear();
  update();
  QWidget::leaveEvent(event);
}

}  // namespace ril
