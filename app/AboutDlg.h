#pragma once

#include <QDialog>

// "电视": the program's version and where to reach its makers.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
