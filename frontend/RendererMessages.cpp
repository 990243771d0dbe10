#include "RendererMessages.h"

namespace {

struct Translation
{
    const char* english;
    const char* chinese;
};

// Whole messages.
constexpr Translation kMessages[] = {
    {"Config error: width and height must be positive.", "配置错误：图片宽度和高度必须为正数。"},
    {"Config error: distance must be positive.", "配置错误：相机距离（distance）必须为正数。"},
    {"Config error: output_format must be png, jpg, or pdf.", "配置错误：图片格式只能是 png、jpg 或 pdf。"},
    {"Config error: jpg_quality must be 1-100.", "配置错误：JPEG 质量（jpg_quality）必须在 1 到 100 之间。"},
    {"Config error: osgb_path and shp_path are required.", "配置错误：必须指定 OSGB 模型路径和 SHP 图斑文件。"},
    {"Config error: field_separator contains invalid Windows path characters.",
     "配置错误：字段组合分隔符含有 Windows 路径不允许的字符（\\ / : * ? \" < > |）。"},
    {"Config error: width and height must be at most 16384.", "配置错误：图片宽度和高度不能超过 16384。"},
    {"Config error: warmup_frames must be at most 1000.", "配置错误：渲染等待帧数（warmup_frames）不能超过 1000。"},
    {"Config error: photo_name_template must be at most 4096 bytes.", "配置错误：照片名称模板不能超过 4096 字节。"},
    {"Config error: shard_count must be at least 1.", "配置错误：分片数（shard_count）至少为 1。"},
    {"Config error: num_threads must be at most 64.", "配置错误：写图线程数（num_threads）不能超过 64。"},
    {"Renderer received null scene.", "渲染器没有收到模型。"},
};

// Messages that name a key in the middle.
constexpr const char* kFinitePrefix = "Config error: ";
constexpr const char* kFiniteSuffix = " must be a finite number.";

// Messages that end in a value (a path, an angle, a reason): the value is
// kept after the translated beginning.
constexpr Translation kPrefixes[] = {
    {"Cannot open config: ", "无法打开配置文件："},
    {"Config load failed: ", "配置文件读取失败："},
    {"Config error: unsupported angle ", "配置错误：不支持的拍摄角度 "},
    {"Config error: osgb_path does not exist: ", "配置错误：OSGB 模型路径不存在："},
    {"Config error: shp_path does not exist: ", "配置错误：SHP 图斑文件不存在："},
    {"Config error: shard_index must be from 0 to shard_count - 1 ",
     "配置错误：分片序号（shard_index）必须在 0 到 shard_count - 1 之间"},
    {"Failed to write image: ", "图片写入失败："},
    {"Task failed: ", "任务出错："},
    {"Config error: ", "配置错误："},
};

} // namespace

QString translateRendererMessage(const QString& message)
{
    const QString trimmed = message.trimmed();
    for (const Translation& t : kMessages) {
        if (trimmed == QLatin1String(t.english))
            return QString::fromUtf8(t.chinese);
    }
    if (trimmed.startsWith(QLatin1String(kFinitePrefix)) && trimmed.endsWith(QLatin1String(kFiniteSuffix))) {
        const QString key = trimmed.mid(int(qstrlen(kFinitePrefix)),
                                         trimmed.size() - int(qstrlen(kFinitePrefix)) - int(qstrlen(kFiniteSuffix)));
        return QStringLiteral("配置错误：%1 必须是有限的数值（不能是 nan 或 inf）。").arg(key);
    }
    for (const Translation& t : kPrefixes) {
        const QLatin1String prefix(t.english);
        if (trimmed.startsWith(prefix))
            return QString::fromUtf8(t.chinese) + trimmed.mid(prefix.size());
    }
    return trimmed;
}

QString exitCodeMeaning(int exitCode)
{
    switch (exitCode) {
    case 0:
        return QStringLiteral("全部完成");
    case 1:
        return QStringLiteral("配置错误或任务出错");
    case 2:
        return QStringLiteral("未能加载模型");
    case 3:
        return QStringLiteral("SHP 中没有面状图斑");
    case 4:
        return QStringLiteral("渲染器无法启动，或有图片、报告写入失败");
    case 5:
        return QStringLiteral("已停止");
    default:
        return QStringLiteral("渲染器异常退出");
    }
}
