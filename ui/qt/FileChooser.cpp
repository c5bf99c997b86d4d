#include "ui/qt/FileChooser.h"

#include <QFileDialog>

QString QtFilterFromPipeFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
    {
        const QString& name = parts[i];
        if (name.isEmpty())
            break;
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
        {
            const QString trimmed = pattern.trimmed();
            if (trimmed == QLatin1String("*.*"))
            {
                patterns << QStringLiteral("*");
                continue;
            }
            patterns << trimmed;
            if (trimmed.toUpper() != trimmed)
                patterns << trimmed.toUpper();
        }
        patterns.removeDuplicates();
        filters << QStringLiteral("%1 (%2)").arg(name, patterns.join(QLatin1Char(' ')));
    }
    return filters.join(QStringLiteral(";;"));
}

void ConfigureFileDialog(QFileDialog& dialog, const FileDialogRequest& request)
{
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilter(QtFilterFromPipeFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.bMayNotExist ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!request.folder.isEmpty())
        dialog.setDirectory(request.folder);
    if (!request.defaultSuffix.isEmpty() && !request.defaultSuffix.contains(QLatin1Char(' ')))
        dialog.setDefaultSuffix(request.defaultSuffix.toLower());
    if (request.bSave)
    {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    }
    if (!request.initialName.isEmpty() && !request.initialName.contains(QLatin1Char('*')))
        dialog.selectFile(request.initialName);
}

FileChooser MakeQtFileChooser(QWidget* parent)
{
    return [parent](const FileDialogRequest& request) -> std::optional<QString> {
        QFileDialog dialog(parent);
        ConfigureFileDialog(dialog, request);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().first();
    };
}
