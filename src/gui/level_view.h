// LevelView: the picture of the levels of the file analysed last, under the
// report. It is drawn anew for every size the view takes, and a line under
// it tells the time and the level under the pointer.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include "core/analysis/analysis.h"
#include "core/picture/level_picture.h"

class QPainter;

namespace ril {

// Draws the shapes of `picture` with `painter`, at its origin.
void paintPicture(QPainter& painter, const LevelPicture& picture);

class LevelView : public QWidget {
  Q_OBJECT

 public:
  explicit LevelView(QWidget* parent = nullptr);

  // The levels of a complete analysis of a file at `sampleRate` (kept).
  void setAnalysis(const AnalysisResult& result, double sampleRate);
  bool hasPicture() const { return result_.overview.channels > 0; }

  // The picture for the view's present size, less the pointer's line.
  const LevelPicture& picture();
  // The pointer's line: what lies under it, or "" when it is off the plot.
  const QString& pointerText() const { return pointer_; }
  // The picture alone, at the view's size less the pointer's line.
  QImage image();
  // Saves image() as PNG at `path`, complete before it takes the name; the
  // reason when that fails.
  bool savePng(const QString& path, QString& why);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  int lineHeight() const;

  AnalysisResult result_;
  double sampleRate_ = 0;
  LevelPicture picture_;
  bool drawn_ = false;  // picture_ is that of result_
  QString pointer_;
};

}  // namespace ril
