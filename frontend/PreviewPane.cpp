#include "PreviewPane.h"

#include "core/CameraAngle.h"
#include "core/OutputFormats.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Images are read no larger than this; the pane scales them further.
constexpr int kReadSize = 1280;

QImage readScaled(const QString& path)
{
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kReadSize || size.height() > kReadSize))
        reader.setScaledSize(size.scaled(kReadSize, kReadSize, Qt::KeepAspectRatio));
    return reader.read();
}

}  // namespace

PreviewPane::PreviewPane(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setMinimumSize(160, 60);
    connect(&m_watcher, &QFutureWatcher<QImage>::finished, this, &PreviewPane::loadFinished);
}

void PreviewPane::setUrlOpener(UrlOpener opener)
{
    m_opener = std::move(opener);
}

void PreviewPane::showImage(const WrittenImage& image)
{
    if (m_busy) {
        m_waiting = image;  // replaces an older one that was waiting
        return;
    }
    startLoading(image);
}

void PreviewPane::clear()
{
    ++m_generation;
    m_waiting.reset();
    m_shown = WrittenImage();
    m_image = QImage();
    m_failed = false;
    setToolTip(QString());
    unsetCursor();
    update();
}

void PreviewPane::startLoading(const WrittenImage& image)
{
    m_loading = image;
    m_loadingGeneration = m_generation;
    m_busy = true;
    m_watcher.setFuture(QtConcurrent::run(readScaled, image.path));
}

void PreviewPane::loadFinished()
{
    m_busy = false;
    if (m_loadingGeneration == m_generation) {
        m_shown = m_loading;
        m_image = m_watcher.result();
        m_failed = m_image.isNull();
        setToolTip(QStringLiteral("点击用系统看图程序打开：") + QDir::toNativeSeparators(m_shown.path));
        setCursor(Qt::PointingHandCursor);
        update();
        emit imageShown(m_shown.path);
    }

    if (m_waiting) {
        const WrittenImage next = *m_waiting;
        m_waiting.reset();
        startLoading(next);
    }
}

void PreviewPane::setOutputFolder(const QString& folder)
{
    m_outputFolder = folder;
}

// The image's folder below the output folder: it carries the suffix that
// tells two frames of the same name apart ("A_02"), which the frame name
// does not. An image written straight into the output folder is named by
// its frame.
QString PreviewPane::caption() const
{
    if (m_shown.path.isEmpty())
        return QString();
    QString text = m_shown.frameName.isEmpty() ? QFileInfo(m_shown.path).fileName() : m_shown.frameName;
    if (!m_outputFolder.isEmpty()) {
        const QString folder = QDir(m_outputFolder).relativeFilePath(QFileInfo(m_shown.path).absolutePath());
        if (!folder.isEmpty() && folder != QLatin1String(".") && !folder.startsWith(QLatin1String("..")))
            text = QDir::toNativeSeparators(folder);
    }
    if (!m_shown.angle.isEmpty())
        text += QStringLiteral(" · ") + QString::fromStdString(vistrel::angleLabel(m_shown.angle.toStdString()));
    return text;
}

void PreviewPane::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(6, 6, -6, -6);
    const int captionHeight = fontMetrics().height() + 6;
    const QRect imageArea = area.adjusted(0, 0, 0, -captionHeight);
    const QRect captionArea(area.left(), area.bottom() - captionHeight + 1, area.width(), captionHeight);

    if (m_shown.path.isEmpty()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("任务开始后在此显示最新写出的图片"));
        return;
    }
    if (m_failed) {
        // A format that is no picture (PDF) is opened by the system's program.
        const vistrel::OutputFormat* format = vistrel::outputFormatOfName(m_shown.path.toStdString());
        const QString text = format && !format->picture
                                 ? QString::fromLatin1(format->label.data(), qsizetype(format->label.size())) +
                                       QStringLiteral(" 不在此预览，点击用系统程序打开")
                                 : QStringLiteral("无法读取图片");
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(imageArea, Qt::AlignCenter | Qt::TextWordWrap, text);
    } else {
        const QSize fitted = m_image.size().scaled(imageArea.size(), Qt::KeepAspectRatio);
        QRect target(QPoint(0, 0), fitted);
        target.moveCenter(imageArea.center());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_image);
    }
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(captionArea, Qt::AlignCenter,
                     fontMetrics().elidedText(caption(), Qt::ElideMiddle, captionArea.width()));
}

void PreviewPane::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && !m_shown.path.isEmpty() && m_opener)
        m_opener(QUrl::fromLocalFile(m_shown.path));
    QFrame::mouseReleaseEvent(event);
}
