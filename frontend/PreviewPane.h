#pragma once

#include "RunOutputReader.h"
#include "UserMessage.h"

#include <QFrame>
#include <QFutureWatcher>
#include <QImage>

#include <optional>

// Shows the image the renderer wrote last, scaled to fit, with its frame
// name and angle. Images are read on a worker thread; while one is being
// read, newer ones only replace the one waiting, so a fast run never queues
// work here. A click opens the image in the system's viewer.
class PreviewPane : public QFrame {
    Q_OBJECT

public:
    explicit PreviewPane(QWidget* parent = nullptr);

    void setUrlOpener(UrlOpener opener);
    // The run's output folder: the caption names an image's folder below it.
    void setOutputFolder(const QString& folder);

    void showImage(const WrittenImage& image);
    void clear();

    QString shownPath() const { return m_shown.path; }
    QString caption() const;
    bool loading() const { return m_busy; }

signals:
    void imageShown(const QString& path);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void startLoading(const WrittenImage& image);
    void loadFinished();

    UrlOpener m_opener;
    QString m_outputFolder;
    QFutureWatcher<QImage> m_watcher;
    WrittenImage m_loading;
    std::optional<WrittenImage> m_waiting;
    WrittenImage m_shown;
    QImage m_image;
    bool m_failed = false;
    // Set from the start of a read until its result has been taken here;
    // the future itself finishes earlier, on the worker thread.
    bool m_busy = false;
    // A clear during a read makes its result stale.
    int m_generation = 0;
    int m_loadingGeneration = 0;
};
