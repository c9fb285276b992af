#include "shell/queue/ElidedLabel.h"

#include <QFontMetrics>

namespace spatialmux {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    // Any width will do: the text is cut to it, never the other way round.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::SetFullText(const QString& text) {
    full = text;
    Fit();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Fit();
}

void ElidedLabel::Fit() {
    const QString shown = fontMetrics().elidedText(full, Qt::ElideRight, contentsRect().width());
    setText(shown);
    setToolTip(shown == full ? QString() : full);
}

}  // namespace spatialmux
