#pragma once
// A one-line label that never clips its text: what does not fit ends in
// "…", and the whole text is then its tooltip.

#include <QLabel>
#include <QString>

namespace spatialmux {

class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void SetFullText(const QString& text);
    QString FullText() const { return full; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Fit();

    QString full;
};

}  // namespace spatialmux
