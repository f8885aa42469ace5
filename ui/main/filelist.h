// The file list of the source pane: the ordinary files of one folder that match a pattern.
#pragma once

#include <QIcon>
#include <QListWidget>

namespace mivex::ui {

class FileList : public QListWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent = nullptr);

    QString path() const { return mPath; }
    void setPath(const QString& path) { mPath = path; }
    QString pattern() const { return mPattern; }
    void setPattern(const QString& pattern) { mPattern = pattern; }
    // Reads the folder again with the current path and pattern; the selection is cleared.
    void refresh();
    // The selected file's name, or an empty text when no file is selected.
    QString fileName() const;
    // Selects the file of that name. A name that is not listed (a hidden file, say) narrows the
    // list to that one file, selected, until the next refresh().
    void selectFile(const QString& name);

signals:
    void fileDoubleClicked();

private:
    void keyPressEvent(QKeyEvent* event) override;
    const QIcon& fileIcon();

    QIcon mFileIcon;
    QString mPath;
    QString mPattern = QStringLiteral("*.*");
};

}  // namespace mivex::ui
