#pragma once

#include <QDialog>

// The main window after sign-in.
class MainDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MainDialog(QWidget *parent = nullptr);
};
