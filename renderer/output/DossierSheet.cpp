#include "output/DossierSheet.h"

#include "output/CairoPicture.h"
#include "output/CaptureRows.h"
#include "output/StagedFile.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vistrel {

namespace {

// The page and its parts, in points.
constexpr double kPageWidth = 595.0;
constexpr double kPageHeight = 842.0;
constexpr double kMargin = 36.0;
constexpr double kTextWidth = kPageWidth - 2 * kMargin;
constexpr double kTitleHeight = 30.0;
constexpr double kRowHeight = 16.0;
constexpr double kNoteHeight = 13.0;
constexpr double kLabelHeight = 24.0;  // the view's label and its remarks under a picture
constexpr double kGap = 10.0;
constexpr double kFooterHeight = 22.0;
constexpr double kLargestVertical = 250.0;  // the vertical picture's greatest height
constexpr double kCellWidth = (kTextWidth - kGap) / 2;
constexpr double kBottom = kPageHeight - kMargin - kFooterHeight;
constexpr int kContentsLines = 40;

int printedPixels(double points)
{
    return static_cast<int>(std::lround(points / 72.0 * kSheetDpi));
}

// Where a picture goes: its page (0-based) and its box in points.
struct PictureBox {
    int page = 0;
    double x = 0, y = 0, width = 0, height = 0;
};

struct SheetLayout {
    double tableTop = 0;
    double notesTop = 0;
    std::vector<PictureBox> boxes;  // one per picture
    int pages = 1;
};

PictureBox verticalBox(double top, double aspect)
{
    double width = kTextWidth;
    double height = width * aspect;
    if (height > kLargestVertical) {
        height = kLargestVertical;
        width = height / aspect;
    }
    return {0, kMargin + (kTextWidth - width) / 2, top, width, height};
}

SheetLayout layoutSheet(const SheetContent& content)
{
    SheetLayout layout;
    const double aspect = std::clamp(content.aspect, 0.05, 20.0);
    layout.tableTop = kMargin + kTitleHeight;
    const std::size_t tableLines = (content.rows.size() + 1) / 2;  // two fields a line
    layout.notesTop = layout.tableTop + static_cast<double>(tableLines) * kRowHeight + 6;
    double y = layout.notesTop + kNoteHeight + 6;
    std::size_t next = 0;
    if (content.vertical && !content.pictures.empty()) {
        layout.boxes.push_back(verticalBox(y, aspect));
        y += layout.boxes.back().height + kLabelHeight + kGap;
        next = 1;
    }
    // The grid's cells keep their size; a picture taller than the page shrinks.
    const double cellHeight = std::min(kCellWidth * aspect, kBottom - kMargin - kTitleHeight - kLabelHeight);
    const double cellWidth = cellHeight / aspect;
    int page = 0;
    for (std::size_t i = next; i < content.pictures.size(); i += 2) {
        if (y + cellHeight + kLabelHeight > kBottom) {
            ++page;
            y = kMargin + kTitleHeight;
        }
        for (std::size_t c = 0; c < 2 && i + c < content.pictures.size(); ++c) {
            const double x = kMargin + static_cast<double>(c) * (kCellWidth + kGap) + (kCellWidth - cellWidth) / 2;
            layout.boxes.push_back({page, x, y, cellWidth, cellHeight});
        }
        y += cellHeight + kLabelHeight + kGap;
    }
    layout.pages = page + 1;
    return layout;
}

// One line of text with its top-left at (x, y), cut with "…" at `width`.
void showText(cairo_t* cr, const std::string& text, double size, double x, double y, double width, bool bold = false)
{
    const TextLayout layout = textLayout(cr, text, size, bold, width);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout.get());
}

void drawTable(cairo_t* cr, const SheetContent& content, double top)
{
    cairo_set_line_width(cr, 0.5);
    const double column = kTextWidth / 2;
    for (std::size_t i = 0; i < content.rows.size(); ++i) {
        const double x = kMargin + static_cast<double>(i % 2) * column;
        const std::size_t line = i / 2;  // two fields a line
        const double y = top + static_cast<double>(line) * kRowHeight;
        cairo_set_source_rgb(cr, 0.93, 0.93, 0.93);
        cairo_rectangle(cr, x, y, column * 0.38, kRowHeight);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
        cairo_rectangle(cr, x, y, column, kRowHeight);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        showText(cr, content.rows[i].first, 8, x + 3, y + 2.5, column * 0.38 - 6, true);
        showText(cr, content.rows[i].second, 8, x + column * 0.38 + 3, y + 2.5, column * 0.62 - 6);
    }
}

// The picture scaled into its box (embedded as JPEG), or a box saying it is
// missing; its label and remarks under it. False when cairo fails.
bool drawPicture(cairo_t* cr, const SheetPicture& picture, const PictureBox& box, int quality)
{
    const Surface surface = picture.image ? uprightSurface(*picture.image) : nullptr;
    if (surface && attachJpeg(surface.get(), *picture.image, kSheetDpi, quality)) {
        cairo_save(cr);
        cairo_translate(cr, box.x, box.y);
        cairo_scale(cr, box.width / picture.image->s(), box.height / picture.image->t());
        cairo_set_source_surface(cr, surface.get(), 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
    } else {
        cairo_set_source_rgb(cr, 0.95, 0.95, 0.95);
        cairo_rectangle(cr, box.x, box.y, box.width, box.height);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
        showText(cr, "缺少" + picture.label + "图片", 10, box.x + 8, box.y + box.height / 2 - 7, box.width - 16);
    }
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    cairo_set_line_width(cr, 0.5);
    cairo_rectangle(cr, box.x, box.y, box.width, box.height);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    showText(cr, picture.label, 9, box.x, box.y + box.height + 2, box.width, true);
    if (!picture.remark.empty()) {
        cairo_set_source_rgb(cr, 0.6, 0.1, 0.1);
        showText(cr, "备注：" + picture.remark, 7, box.x, box.y + box.height + 13, box.width);
    }
    return cairo_status(cr) == CAIRO_STATUS_SUCCESS;
}

std::string sheetTitle(const SheetContent& content)
{
    return content.name.empty() ? content.code : content.code + "  " + content.name;
}

void drawHeader(cairo_t* cr, const SheetContent& content, int page)
{
    cairo_set_source_rgb(cr, 0, 0, 0);
    showText(cr, page == 0 ? sheetTitle(content) : sheetTitle(content) + "（续）", page == 0 ? 15 : 11, kMargin,
             kMargin, kTextWidth, true);
    cairo_set_line_width(cr, 0.8);
    cairo_move_to(cr, kMargin, kMargin + kTitleHeight - 6);
    cairo_line_to(cr, kMargin + kTextWidth, kMargin + kTitleHeight - 6);
    cairo_stroke(cr);
}

void drawFooter(cairo_t* cr, const std::string& footer, const std::string& pageText)
{
    const double y = kPageHeight - kMargin - kFooterHeight + 8;
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    cairo_set_line_width(cr, 0.5);
    cairo_move_to(cr, kMargin, y - 3);
    cairo_line_to(cr, kMargin + kTextWidth, y - 3);
    cairo_stroke(cr);
    showText(cr, footer, 7.5, kMargin, y, kTextWidth - 80);
    showText(cr, pageText, 7.5, kMargin + kTextWidth - 75, y, 75);
}

// Draws the sheet's pages; `firstPage` is the 1-based number of its first
// page in the file, `totalPages` the file's (0: numbered within the sheet).
bool drawSheet(cairo_t* cr, const SheetContent& content, int firstPage, int totalPages)
{
    const SheetLayout layout = layoutSheet(content);
    bool drawn = true;
    for (int page = 0; page < layout.pages; ++page) {
        drawHeader(cr, content, page);
        if (page == 0) {
            drawTable(cr, content, layout.tableTop);
            cairo_set_source_rgb(cr, 0.6, 0.1, 0.1);
            showText(cr, content.note, 8, kMargin, layout.notesTop, kTextWidth);
        }
        for (std::size_t i = 0; i < layout.boxes.size(); ++i) {
            if (layout.boxes[i].page == page) {
                drawn = drawPicture(cr, content.pictures[i], layout.boxes[i], content.quality) && drawn;
            }
        }
        const int number = firstPage + page;
        const std::string pageText =
            totalPages > 0 ? "第 " + std::to_string(number) + " 页"
                           : "第 " + std::to_string(page + 1) + "/" + std::to_string(layout.pages) + " 页";
        drawFooter(cr, content.footer, pageText);
        cairo_show_page(cr);
    }
    return drawn && cairo_status(cr) == CAIRO_STATUS_SUCCESS;
}

// Makes a PDF in a staged file at `path` and hands its context to `draw`.
bool writePdfFile(const std::string& path, const std::function<bool(cairo_t*)>& draw, FileDigest* digest,
                  std::string& reason)
{
    StagedFile file(path);
    if (!file.open()) {
        reason = file.error();
        return false;
    }
    bool drawn = false;
    {
        const Surface pdf = pdfSurface(file.stream(), kPageWidth, kPageHeight);
        cairo_t* cr = cairo_create(pdf.get());
        drawn = draw(cr);
        cairo_destroy(cr);
        cairo_surface_finish(pdf.get());
        drawn = drawn && cairo_surface_status(pdf.get()) == CAIRO_STATUS_SUCCESS;
    }
    if (!drawn) {
        reason = "cairo could not draw the PDF";
        file.discard();
        return false;
    }
    if (!file.commit()) {
        reason = file.error().empty() ? "write error" : file.error();
        return false;
    }
    if (digest) {
        *digest = file.digest();
    }
    return true;
}

int contentsPages(std::size_t sections)
{
    return std::max(1, static_cast<int>((sections + kContentsLines - 1) / kContentsLines));
}

void drawContents(cairo_t* cr, const std::vector<SheetContent>& sections, const std::vector<int>& firstPages)
{
    for (int page = 0; page < contentsPages(sections.size()); ++page) {
        cairo_set_source_rgb(cr, 0, 0, 0);
        showText(cr, "目录", 15, kMargin, kMargin, kTextWidth, true);
        for (int line = 0; line < kContentsLines; ++line) {
            const std::size_t i = static_cast<std::size_t>(page) * kContentsLines + static_cast<std::size_t>(line);
            if (i >= sections.size()) {
                break;
            }
            const double y = kMargin + kTitleHeight + line * kRowHeight;
            showText(cr, std::to_string(i + 1) + "  " + sheetTitle(sections[i]), 9, kMargin, y, kTextWidth - 60);
            showText(cr, std::to_string(firstPages[i]), 9, kMargin + kTextWidth - 40, y, 40);
        }
        drawFooter(cr, sections.empty() ? std::string() : sections.front().footer,
                   "第 " + std::to_string(page + 1) + " 页");
        cairo_show_page(cr);
    }
}

}  // namespace

osg::ref_ptr<osg::Image> sheetCopy(const osg::Image& picture, bool vertical)
{
    const Surface source = uprightSurface(picture);
    if (!source) {
        return nullptr;
    }
    // The vertical picture is printed over the text width up to its greatest height.
    const double printed = vertical ? verticalBox(0, static_cast<double>(picture.t()) / picture.s()).width : kCellWidth;
    const double scale = std::min(1.0, printedPixels(printed) / static_cast<double>(picture.s()));
    const int s = std::max(1, static_cast<int>(std::lround(picture.s() * scale)));
    const int t = std::max(1, static_cast<int>(std::lround(picture.t() * scale)));
    const Surface target(cairo_image_surface_create(CAIRO_FORMAT_RGB24, s, t));
    cairo_t* cr = cairo_create(target.get());
    cairo_scale(cr, static_cast<double>(s) / picture.s(), static_cast<double>(t) / picture.t());
    cairo_set_source_surface(cr, source.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    if (!drawn) {
        return nullptr;
    }
    cairo_surface_flush(target.get());
    osg::ref_ptr<osg::Image> copy = new osg::Image;
    copy->allocateImage(s, t, 1, GL_RGB, GL_UNSIGNED_BYTE);
    const unsigned char* base = cairo_image_surface_get_data(target.get());
    const int stride = cairo_image_surface_get_stride(target.get());
    for (int r = 0; r < t; ++r) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(base + static_cast<std::ptrdiff_t>(r) * stride);
        unsigned char* out = copy->data(0, t - 1 - r);
        for (int x = 0; x < s; ++x, out += 3) {
            out[0] = static_cast<unsigned char>(in[x] >> 16);
            out[1] = static_cast<unsigned char>(in[x] >> 8);
            out[2] = static_cast<unsigned char>(in[x]);
        }
    }
    return copy;
}

int sheetPageCount(const SheetContent& content)
{
    return layoutSheet(content).pages;
}

bool writeDossierSheet(const SheetContent& content, const std::string& path, FileDigest& digest, std::string& reason)
{
    return writePdfFile(
        path, [&content](cairo_t* cr) { return drawSheet(cr, content, 1, 0); }, &digest, reason);
}

bool writeDossierBook(const std::vector<SheetContent>& sections,
                      const std::function<void(std::size_t, SheetContent&)>& fill, const std::string& path,
                      std::string& reason)
{
    std::vector<int> firstPages;
    int next = contentsPages(sections.size()) + 1;
    for (const SheetContent& section : sections) {
        firstPages.push_back(next);
        next += sheetPageCount(section);
    }
    const int totalPages = next - 1;
    const auto draw = [&](cairo_t* cr) {
        drawContents(cr, sections, firstPages);
        bool drawn = true;
        for (std::size_t i = 0; i < sections.size(); ++i) {
            SheetContent section = sections[i];
            fill(i, section);
            drawn = drawSheet(cr, section, firstPages[i], totalPages) && drawn;
        }
        return drawn;
    };
    return writePdfFile(path, draw, nullptr, reason);
}

}  // namespace vistrel
