#include "RendererMessages.h"

#include "ConfigReference.h"

#include "core/OutputFormats.h"
#include "core/RunProtocol.h"

#include <QStringList>

#include <string>
#include <utility>

using vistrel::RunMessage;

namespace {

struct Translation {
    RunMessage id;
    const char* chinese;  // "{}" stands where the English message has a value
};

// The refusal of an output_format that no output format names.
const char* outputFormatRefusal()
{
    static const std::string text = "配置错误：图片格式只能是 " + vistrel::outputFormatList("、", " 或 ") + "。";
    return text.c_str();
}

// One Chinese text for every message of the run protocol.
const Translation kTranslations[] = {
    {RunMessage::CannotOpenConfig, "无法打开配置文件：{}"},
    {RunMessage::ConfigLoadFailed, "配置文件读取失败：{}"},
    {RunMessage::ConfigSizePositive, "配置错误：图片宽度和高度必须为正数。"},
    {RunMessage::ConfigSizeTooLarge, "配置错误：图片宽度和高度不能超过 {}。"},
    {RunMessage::ConfigDistancePositive, "配置错误：相机距离（distance）必须为正数。"},
    {RunMessage::ConfigUnsupportedAngle, "配置错误：不支持的拍摄角度 {}"},
    {RunMessage::ConfigOutputFormat, outputFormatRefusal()},
    {RunMessage::ConfigJpgQuality, "配置错误：JPEG 质量（jpg_quality）必须在 1 到 100 之间。"},
    {RunMessage::ConfigEglDevice, "配置错误：egl_device 必须是 -1（自动选择）或 EGL 设备的序号。"},
    {RunMessage::ConfigInputsRequired, "配置错误：必须指定 OSGB 模型路径和 SHP 图斑文件。"},
    {RunMessage::ConfigOsgbMissing, "配置错误：OSGB 模型路径不存在：{}"},
    {RunMessage::ConfigModelPathsDiffer, "配置错误：model_path 与 osgb_path 指向不同的模型：{} 与 {}"},
    {RunMessage::ConfigShpMissing, "配置错误：SHP 图斑文件不存在：{}"},
    {RunMessage::ConfigSeparator, "配置错误：字段组合分隔符含有 Windows 路径不允许的字符（\\ / : * ? \" < > |）。"},
    {RunMessage::ConfigTemplateTooLong, "配置错误：照片名称模板不能超过 {} 字节。"},
    {RunMessage::ConfigShardIndexRange,
     "配置错误：分片序号（shard_index）必须在 0 到 shard_count - 1 之间（shard_index 为 {}，shard_count 为 {}）。"},
    {RunMessage::ConfigNotFinite, "配置错误：{} 必须是有限的数值（不能是 nan 或 inf）。"},
    {RunMessage::ConfigShardEnvironmentCount,
     "配置错误：设置了 JOB_COMPLETION_INDEX，但没有设置 VISTREL_SHARD_COUNT；请设为作业的 completions。"},
    {RunMessage::ConfigSlurmCount, "配置错误：设置了 SLURM_ARRAY_TASK_ID，但没有 SLURM_ARRAY_TASK_COUNT。"},
    {RunMessage::ConfigEnvironmentNotNumber, "配置错误：环境变量 {} 不是整数：“{}”"},
    {RunMessage::ConfigAtLeast, "配置错误：{}至少为 {}。"},
    {RunMessage::ConfigAtMost, "配置错误：{}不能超过 {}。"},
    {RunMessage::ConfigWhere, "配置错误：图斑筛选条件（where）不是图层 {} 可用的属性筛选表达式：{}"},
    {RunMessage::ConfigRetryNeedsResume,
     "配置错误：“只重做失败和跳过的图斑”（retry_failed_only）需要同时开启“继续上次任务”（resume）。"},
    {RunMessage::ConfigRetryWithoutJournal,
     "配置错误：“只重做失败和跳过的图斑”需要本批任务上次运行的任务日志，但在 {} 中没有找到。"},
    {RunMessage::ConfigOther, "配置错误：{}"},
    {RunMessage::NoDefaultConfig, "找不到默认配置文件：{}"},
    {RunMessage::CannotCreateLogFolder, "无法在工作目录中创建日志文件夹 logs：{}"},
    {RunMessage::InvalidConfig, "配置无效。"},
    {RunMessage::FeaturesLost, "SHP 中有要素未能读取（读取 {} 个，共 {} 个，{} 个无法读取），本次任务不完整。"},
    {RunMessage::LayerFeaturesLost, "图层 {}（{}）有要素丢失：图层声明 {} 个，读取 {} 个，{} 个无法读取。"},
    {RunMessage::NoFrameOverModel,
     "没有图斑落在模型范围内：图斑范围 {}（{}），模型范围 {}（{}）。检查坐标系、度带前缀或偏移"},
    {RunMessage::GdalError, "GDAL 错误：{}"},
    {RunMessage::OsgNotice, "OpenSceneGraph 提示：{}"},
    {RunMessage::TaskFailed, "任务出错：{}"},
    {RunMessage::HtmlReportFailed, "HTML 报告页写入失败：{}"},
    {RunMessage::CsvReportFailed, "CSV 报告写入失败：{}"},
    {RunMessage::FailedFrame, "图斑 {} 的 {} 视图失败：{}"},
    {RunMessage::NullScene, "渲染器没有收到模型。"},
    {RunMessage::JournalFailed, "无法写入任务日志（断点续拍记录）：{}"},
    {RunMessage::JournalLocked,
     "另一个任务（进程 {}）正在使用输出文件夹 {}（任务日志 {}），本次任务未做任何改动即停止。"},
    {RunMessage::RenderNotThroughFbo, "渲染失败：画面未经帧缓冲对象绘制。"},
    {RunMessage::RenderFailedWriting, "渲染失败：写出 {} 时发生未知错误"},
    {RunMessage::RenderFailed, "渲染失败：{}"},
    {RunMessage::RendererNullScene, "渲染器初始化失败：没有模型。"},
    {RunMessage::NoGraphicsContext, "无法创建离屏 OpenGL 绘图环境。"},
    {RunMessage::EglDeviceMissing, "指定的 EGL 设备 {} 不可用（egl_device 或 VISTREL_EGL_DEVICE）：{}"},
    {RunMessage::RenderTargetTooLarge, "渲染尺寸 {} 超出了 OpenGL 的上限 {}。"},
    {RunMessage::RendererNotInitialized, "渲染器未初始化。"},
    {RunMessage::OsgbPathMissing, "OSGB 模型路径不存在：{}"},
    {RunMessage::NoRootTiles, "在以下位置找不到根节点 .osgb 文件：{}"},
    {RunMessage::SceneReadFailed, "无法读取模型文件：{}"},
    {RunMessage::NoSceneLoaded, "未能从以下位置加载任何 OSGB 模型：{}"},
    {RunMessage::RootBoundUnusable, "已跳过根节点瓦片 {}：其包围球无法定位（{}）"},
    {RunMessage::RootIndexEntryWrong, "根节点索引中 {} 的条目有误（{}），已按文件更正"},
    {RunMessage::ImageWriteFailed, "图片写入失败：{}"},
    {RunMessage::SymlinkRefused, "输出文件夹内有符号链接，拒绝经由它写入：{}"},
    {RunMessage::WorldFileWriteFailed, "世界文件写入失败：{}"},
    {RunMessage::UsingConfig, "使用配置文件：{}"},
    {RunMessage::StartingRun, "Vistrel 开始运行。"},
    {RunMessage::RemovedStaleFiles, "已删除 {} 个残留的临时文件（位于 {}）"},
    {RunMessage::PreviewMode, "测试导出：仅拍摄前 {} 个图斑。"},
    {RunMessage::FeaturesWithoutPolygon, "没有面的要素：{} 个（{}）"},
    {RunMessage::TileCounts,
     "缺失瓦片 {} 个，拒绝读取 {} 个（对它们的另外 {} 次请求未再读取）；因包围球无法定位而略去的根节点瓦片 {} 个"},
    {RunMessage::RootIndexSummary, "根节点索引：{} 个根节点，为建索引读取 {} 个，与文件核对 {} 个"},
    {RunMessage::CoordinateSystems, "模型坐标系：{}；图斑坐标系：{}"},
    {RunMessage::TransformingFrames, "正在把图斑从 {} 转换到 {}（逐点转换；边弯曲超过 1 厘米处补点）"},
    {RunMessage::TransformationDone, "坐标转换：{}；边界点 {} 个，其中沿弯曲的边补点 {} 个"},
    {RunMessage::FramesMoved, "图斑范围，转换前：{}；转换后：{}"},
    {RunMessage::RenderingAgain, "重新拍摄 {}：{}"},
    {RunMessage::FboReady, "离屏渲染器已就绪。"},
    {RunMessage::OpenGlContext, "OpenGL 绘图环境：{}，渲染设备：{}，OpenGL {}"},
    {RunMessage::SoftwareRendering, "未打开 GPU 的 EGL 设备，改用软件渲染。"},
    {RunMessage::OcclusionChoice, "避让遮挡：图斑 {}，视图 {}，遮挡评分 {}，相机角度 {}"},
    {RunMessage::RangeLineSmoothed, "范围线高度已平滑：{}，原始最大跳变 {}，上限 {}"},
    {RunMessage::ShpOffsetZone, "应用 SHP 坐标偏移：x={}，y={}（度带前缀 {}）"},
    {RunMessage::ShpOffset, "应用 SHP 坐标偏移：x={}，y={}"},
    {RunMessage::FramesReadBounds, "读取 {} 个图斑：{}，范围 ({}, {}) - ({}, {})"},
    {RunMessage::FramesRead, "读取 {} 个图斑：{}"},
    {RunMessage::MetadataOriginSrs, "从 {} 读取模型原点：x={}，y={}，z={}，坐标系 {}"},
    {RunMessage::MetadataOrigin, "从 {} 读取模型原点：x={}，y={}，z={}"},
    {RunMessage::DsmOrigin, "从 DSM {} 读取模型原点：x={}，y={}"},
    {RunMessage::HeightsSampledRange, "已为 {}/{} 个图斑取得模型高度，高度范围 ({}, {})"},
    {RunMessage::HeightsSampled, "已为 {}/{} 个图斑取得模型高度"},
    {RunMessage::ShpNearScene, "SHP 坐标已与模型接近，无需平移。范围 {}"},
    {RunMessage::RootsReadAgain, "重新读取了取自根节点索引的其余 {} 个根节点（{} 个有变化）"},
    {RunMessage::LoadingScene, "正在加载 OSGB 模型：{}"},
    {RunMessage::SceneLoaded, "模型已加载，包围球中心 ({}, {}, {})，半径 {}"},
    {RunMessage::SkippedFeature, "已跳过要素 FID {}（图层 {}）：{}"},
    {RunMessage::MoreFeaturesSkipped, "另有 {} 个没有面的要素被跳过"},
    {RunMessage::NoPolygonFeatures, "SHP 中没有面或多面要素。图层 {} 中有：{}"},
    {RunMessage::DamagedRootIndex, "已忽略损坏的根节点索引：{}"},
    {RunMessage::RootIndexThroughLink, "未经由符号链接写入根节点索引：{}"},
    {RunMessage::RootIndexWriteFailed, "无法写入根节点索引 {}：{}"},
    {RunMessage::FramesCrsUnusable, "图斑的坐标系无法使用，按未知处理：{}"},
    {RunMessage::ModelSrsUnusable, "{} 中的模型坐标系无法使用，按未知处理：{}"},
    {RunMessage::FramesUnplaced, "{} 个图斑（共 {} 个）无法放入 {}，其图片失败；第一个是图斑 {}：{}"},
    {RunMessage::SystemsDifferNever,
     "声明的坐标系不同（模型 {}，图斑 {}），但坐标转换（reproject_frames）设为 never：图斑按原坐标使用。"},
    {RunMessage::SystemsDifferOverlap, "声明的坐标系不同（模型 {}，图斑 {}），但坐标转换（reproject_frames）为 {} "
                                       "且图斑已落在模型上：图斑按原坐标使用。"},
    {RunMessage::FramesCrsUnknown, "坐标转换（reproject_frames）为 always，但图斑的坐标系未知：图斑按原坐标使用。"},
    {RunMessage::ModelSrsUnknown, "坐标转换（reproject_frames）为 always，但模型的坐标系未知：图斑按原坐标使用。"},
    {RunMessage::StoppedWhileTransforming, "转换图斑时收到停止请求（已转换 {} 个，共 {} 个）"},
    {RunMessage::NoFramesToRender, "没有要拍摄的图斑。"},
    {RunMessage::TilesStillLoading, "瓦片加载超时（tile_load_timeout {} 秒）：图斑 {} 的 {} 视图仍有 {} 个请求未完成"},
    {RunMessage::ThumbnailWriteFailed, "缩略图写入失败：{}"},
    {RunMessage::JournalUnlockable, "无法锁定任务日志，另一个使用此文件夹的任务将无法察觉：{}"},
    {RunMessage::ResumeTakesNothing, "续跑没有可接续的图片：{}"},
    {RunMessage::EglUnavailable, "EGL 绘图环境不可用：{}"},
    {RunMessage::NoRangeOutline, "图斑 {} 没有可用的范围线"},
    {RunMessage::GdalMoreLikeIt, "GDAL 错误：{}（另有 {} 条同类消息未记录）"},
    {RunMessage::OriginNotRegularFile, "已跳过不是普通文件的原点文件：{}"},
    {RunMessage::MetadataTooLarge, "已跳过大于 {} MB 的元数据文件：{}"},
    {RunMessage::NoModelOriginSrs, "{} 中没有模型原点：{}；其中的坐标系“{}”未使用"},
    {RunMessage::NoModelOrigin, "{} 中没有模型原点：{}"},
    {RunMessage::ShpFarFromScene, "按设置偏移后 SHP 坐标仍远离模型，未再做中心对齐。SHP 范围 {}"},
    {RunMessage::MissingTileFile, "缺少瓦片文件：{}"},
    {RunMessage::MissingTextureFile, "缺少纹理文件：{}"},
    {RunMessage::DamagedTile, "已跳过损坏的瓦片 {}：{}"},
    {RunMessage::DamagedTexture, "已跳过损坏的纹理 {}：{}"},
    {RunMessage::Usage,
     "用法：Vistrel <配置文件，如 config/render.json>（或 Vistrel --plan <配置文件>：预检一次任务会做什么）"},
    {RunMessage::RetryFailedOnly,
     "只重做失败和跳过的图斑：{} 个图斑（共 {} 个）有失败或跳过的图片，重新拍摄；其余保留已写出的图片或不在本次范围内"},
    {RunMessage::NoPictureToMeasure, "无法试拍一张图片来估计耗时：{}"},
    {RunMessage::PlanPictureTime, "预检：图斑 {} 试拍一张图片用时 {} 秒"},
    {RunMessage::SummaryOsgbPath, "OSGB 模型：{}"},
    {RunMessage::SummaryShpPath, "SHP 图斑：{}"},
    {RunMessage::SummaryOutput, "输出目录：{}"},
    {RunMessage::SummaryOffset, "SHP 偏移：x={}，y={}，度带前缀 {}，自动去度带 {}，自动对齐 {}，范围线正射 {}"},
    {RunMessage::SummarySize, "图片尺寸：{}×{}"},
    {RunMessage::SummaryCameraPadding, "相机留白：{}"},
    {RunMessage::SummaryOblique, "倾斜视图：留白 {}，距离 {}，相机角度 {}"},
    {RunMessage::SummaryOcclusion, "避让遮挡：{}，采样步长 {}"},
    {RunMessage::SummaryWarmup, "渲染等待帧数：{}"},
    {RunMessage::SummaryRangeLine, "范围线：抬升 {}，采样步长 {}，线宽 {}，颜色 {}"},
    {RunMessage::SummaryFormat, "图片格式：{}"},
    {RunMessage::SummaryDpi, "DPI：{}"},
    {RunMessage::SummarySystems, "坐标系：模型 {}，图斑 {}，坐标转换 {}，坐标定位文件 {}"},
    {RunMessage::SummaryLayer, "图层：{}"},
    {RunMessage::SummaryPreviewLimit, "测试导出图斑数：{}"},
    {RunMessage::ConfigShardIndexMissing,
     "配置错误：shard_count 为 {}，但没有给出分片序号（shard_index、JOB_COMPLETION_INDEX 或 SLURM_ARRAY_TASK_ID）。"},
};

// A key with its form label where the form has one: 渲染等待帧数（warmup_frames）.
QString keyName(const QString& key)
{
    const QString label = configLabel(key.toLatin1().constData());
    return label.isEmpty() ? key + QLatin1Char(' ') : QStringLiteral("%1（%2）").arg(label, key);
}

// The system's reasons that the values of the messages carry (strerror and
// std::filesystem texts), in Chinese.
constexpr std::pair<const char*, const char*> kSystemReasons[] = {
    {"Permission denied", "权限不足"},
    {"No space left on device", "磁盘空间不足"},
    {"No such file or directory", "文件或目录不存在"},
    {"Read-only file system", "文件系统只读"},
    {"File exists", "文件已存在"},
    {"Not a directory", "不是文件夹"},
    {"Is a directory", "是文件夹"},
    {"Disk quota exceeded", "超出磁盘配额"},
    {"Too many open files", "打开的文件过多"},
    {"Input/output error", "读写错误"},
    {"File name too long", "文件名过长"},
    {"Operation not permitted", "不允许的操作"},
    {"filesystem error: ", "文件系统错误："},
};

QString chineseSystemText(QString value)
{
    for (const auto& [english, chinese] : kSystemReasons)
        value.replace(QLatin1String(english), QString::fromUtf8(chinese));
    return value;
}

QString fill(const char* pattern, const std::vector<std::string>& values)
{
    QString out = QString::fromUtf8(pattern);
    for (const std::string& value : values) {
        const int hole = int(out.indexOf(QLatin1String("{}")));
        if (hole < 0)
            break;
        out.replace(hole, 2, chineseSystemText(QString::fromStdString(value)));
    }
    return out;
}

}  // namespace

QString chineseMessagePattern(vistrel::RunMessage id)
{
    for (const Translation& t : kTranslations) {
        if (t.id == id)
            return QString::fromUtf8(t.chinese);
    }
    return QString();
}

QString translateRendererMessage(const QString& message)
{
    const QString trimmed = message.trimmed();
    auto matched = vistrel::matchRunMessage(trimmed.toStdString());
    if (!matched)
        return trimmed;
    if (matched->id == RunMessage::ConfigAtLeast || matched->id == RunMessage::ConfigAtMost)
        matched->values.front() = keyName(QString::fromStdString(matched->values.front())).toStdString();
    for (const Translation& t : kTranslations) {
        if (t.id == matched->id)
            return fill(t.chinese, matched->values);
    }
    return trimmed;
}

QString exitCodeMeaning(int exitCode)
{
    const vistrel::ExitCodeText* text = vistrel::findExitCode(exitCode);
    return text ? QString::fromUtf8(text->chinese) : QStringLiteral("渲染器异常退出");
}
