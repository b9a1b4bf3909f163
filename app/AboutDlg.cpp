#include "AboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "AppIcon.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("电视"));
    setWindowIcon(AppIcon());
    setFixedSize(422, 187);
    auto line = [this](const QString& text, int y) {
        auto* label = new QLabel(text, this);
        label->setGeometry(38, y, 260, 18);
    };
    line(QStringLiteral("版    本:  1.0"), 37);
    line(QStringLiteral("联系我们:  https://github.com/krel-tv"), 68);
    line(QStringLiteral("2026 krel 开发者"), 99);
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(313, 143, 75, 31);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
