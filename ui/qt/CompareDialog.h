// "Compare Images": two images (BIN or STB) chosen side by side and compared
// module by module, one row per module: its numbers in both images, its kind,
// both lengths, both CRC-32s and whether it is equal or where it differs. The
// window offers the image on the DOWNLOAD page and the file the last upload
// wrote, so a read-back can be checked against what was sent.
#pragma once

#include "ui/qt/FileChooser.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableWidget;

class CCompareDialog : public QDialog
{
    Q_OBJECT
public:
    // The table's columns.
    enum Column
    {
        ModuleColumn,
        KindColumn,
        LengthAColumn,
        LengthBColumn,
        CrcAColumn,
        CrcBColumn,
        ResultColumn,
        ColumnCount,
    };

    // `first` and `second` are offered as the two images ("" for none); Browse asks `chooser`.
    CCompareDialog(const QString& first, const QString& second, FileChooser chooser, QWidget* parent = nullptr);

    QLineEdit* FirstPath() const { return m_pFirst; }
    QLineEdit* SecondPath() const { return m_pSecond; }
    QTableWidget* Table() const { return m_pTable; }
    QLabel* Summary() const { return m_pSummary; }

    // Compares the two images named now and fills the table; the summary says
    // the result, or why the images could not be compared.
    void Compare();

private:
    void Browse(QLineEdit* edit);

    FileChooser m_chooser;
    QLineEdit* m_pFirst = nullptr;
    QLineEdit* m_pSecond = nullptr;
    QCheckBox* m_pHeaders = nullptr;
    QTableWidget* m_pTable = nullptr;
    QLabel* m_pSummary = nullptr;
};
