#include "ui/qt/LogWindow.h"

#include "ui/qt/PageWidget.h"

#include <QListView>
#include <QTabWidget>
#include <QVBoxLayout>

CLogWindow::CLogWindow(CPageWidget* download, CPageWidget* upload, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CLogWindow"));
    setWindowTitle(QStringLiteral("Log - Kavronel Download Manager"));
    m_pTabs = new QTabWidget(this);
    const std::pair<CPageWidget*, const char*> pages[] = {{download, "DOWNLOAD"}, {upload, "UPLOAD"}};
    for (const auto& [page, title] : pages)
        AddLog(QString::fromLatin1(title), page->LogModel());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTabs);
    resize(480, 360);
}

void CLogWindow::AddLog(const QString& title, QAbstractItemModel* model)
{
    auto* list = new QListView(m_pTabs);
    list->setModel(model);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setUniformItemSizes(true);
    m_pTabs->addTab(list, title);
}
