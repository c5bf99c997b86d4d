#include "ui/qt/LogWindow.h"

#include "ui/qt/PageWidget.h"

#include <QDialogButtonBox>
#include <QListView>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

CLogWindow::CLogWindow(CPageWidget* download, CPageWidget* upload, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CLogWindow"));
    setWindowTitle(QStringLiteral("Log - Kavronel Download Manager"));
    m_pTabs = new QTabWidget(this);
    const std::pair<CPageWidget*, const char*> pages[] = {{download, "DOWNLOAD"}, {upload, "UPLOAD"}};
    for (const auto& [page, title] : pages)
        AddLog(QString::fromLatin1(title), page->TimedLog());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* save = buttons->addButton(QStringLiteral("&Save Log..."), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("logSave"));
    connect(save, &QPushButton::clicked, this, &CLogWindow::SaveRequested);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTabs);
    layout->addWidget(buttons);
    resize(560, 380);
}

void CLogWindow::AddLog(const QString& title, CTimedLog* log)
{
    auto* list = new QListView(m_pTabs);
    list->setModel(log);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setUniformItemSizes(true);
    m_pTabs->addTab(list, title);
}
