// Draws the pictures of the sample workbooks shipped in "Samples" beside the program and writes
// the workbooks. Every picture carries a caption with its workbook, worksheet, number and pixel
// size, so the results window shows at a glance which picture is which.
//
// Build and run (the target is not part of the default build):
//   cmake --build --preset default --target samples
// which runs make_samples on resources/Samples. The result is committed; run it again only
// when the drawings change.
#include <xlsxwriter.h>
#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <list>
#include <string>

namespace {

constexpr int kDotsPerMeter = 3780;  // 96 dpi: the sheet shows each picture at its pixel size
constexpr int kJpegQuality = 82;

QFont captionFont(int pixelSize, bool bold = false) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// A light band along the bottom edge naming the picture.
void caption(QPainter& p, const QSize& size, const QString& text) {
    const int band = 24;
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 210));
    p.drawRect(0, size.height() - band, size.width(), band);
    p.setPen(QColor(40, 40, 40));
    const QString line =
        text + QStringLiteral("  -  %1 x %2 px").arg(size.width()).arg(size.height());
    // Small pictures get a smaller font, so the whole caption fits.
    int pixels = 13;
    while (pixels > 7 &&
           QFontMetrics(captionFont(pixels, true)).horizontalAdvance(line) > size.width() - 16) {
        --pixels;
    }
    p.setFont(captionFont(pixels, true));
    p.drawText(QRect(8, size.height() - band, size.width() - 16, band),
               Qt::AlignVCenter | Qt::AlignLeft, line);
    p.restore();
}

QImage canvas(const QSize& size, bool transparent = false) {
    QImage image(size, transparent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    image.fill(transparent ? Qt::transparent : Qt::white);
    image.setDotsPerMeterX(kDotsPerMeter);
    image.setDotsPerMeterY(kDotsPerMeter);
    return image;
}

QImage barChart(const QSize& size, const QString& label) {
    QImage image = canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setFont(captionFont(16, true));
    p.setPen(QColor(30, 50, 90));
    p.drawText(QRect(0, 8, size.width(), 24), Qt::AlignHCenter, QStringLiteral("Sales by quarter"));
    const double values[] = {42, 57, 49, 71};
    const QColor colors[] = {QColor(66, 114, 196), QColor(237, 125, 49), QColor(165, 165, 165),
                             QColor(255, 192, 0)};
    const QRectF plot(50, 44, size.width() - 80, size.height() - 44 - 60);
    p.setPen(QColor(200, 200, 200));
    p.setFont(captionFont(11));
    for (int v = 0; v <= 80; v += 20) {
        const double y = plot.bottom() - plot.height() * v / 80.0;
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.drawText(QRectF(0, y - 8, 44, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
    }
    const double slot = plot.width() / 4.0;
    for (int i = 0; i < 4; ++i) {
        const double h = plot.height() * values[i] / 80.0;
        const QRectF bar(plot.left() + slot * i + slot * 0.2, plot.bottom() - h, slot * 0.6, h);
        p.setPen(Qt::NoPen);
        p.setBrush(colors[i]);
        p.drawRect(bar);
        p.setPen(QColor(60, 60, 60));
        p.drawText(QRectF(bar.left(), plot.bottom() + 4, bar.width(), 16), Qt::AlignHCenter,
                   QStringLiteral("Q%1").arg(i + 1));
    }
    caption(p, size, label);
    return image;
}

QImage landscape(const QSize& size, const QString& label) {
    QImage image = canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = size.width(), h = size.height();
    QLinearGradient sky(0, 0, 0, h * 0.6);
    sky.setColorAt(0, QColor(70, 130, 200));
    sky.setColorAt(1, QColor(250, 214, 160));
    p.fillRect(QRectF(0, 0, w, h), sky);
    QRadialGradient sun(w * 0.72, h * 0.32, h * 0.14);
    sun.setColorAt(0, QColor(255, 250, 220));
    sun.setColorAt(1, QColor(255, 200, 90, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sun);
    p.drawEllipse(QPointF(w * 0.72, h * 0.32), h * 0.14, h * 0.14);
    const QColor hills[] = {QColor(90, 120, 150), QColor(60, 110, 80), QColor(40, 85, 55)};
    for (int layer = 0; layer < 3; ++layer) {
        QPainterPath path(QPointF(0, h));
        const double base = h * (0.5 + 0.12 * layer);
        for (int x = 0; x <= size.width(); x += 8) {
            path.lineTo(x, base - h * 0.08 * std::sin(x / w * (3 + 2 * layer) + layer));
        }
        path.lineTo(w, h);
        path.closeSubpath();
        p.setBrush(hills[layer]);
        p.drawPath(path);
    }
    caption(p, size, label);
    return image;
}

QImage regionMap(const QSize& size, const QString& label) {
    QImage image = canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(image.rect(), QColor(225, 238, 250));
    const QColor fills[] = {QColor(120, 180, 120), QColor(230, 190, 110), QColor(200, 130, 130),
                            QColor(150, 150, 210)};
    const char* names[] = {"North", "East", "South", "West"};
    const double w = size.width(), h = size.height() - 24;
    const QPointF centre(w / 2, h / 2);
    for (int i = 0; i < 4; ++i) {
        QPainterPath path(centre);
        const double a0 = (i * 90 - 45) * M_PI / 180, a1 = (i * 90 + 45) * M_PI / 180;
        for (double a = a0; a <= a1 + 1e-9; a += M_PI / 36) {
            const double r = h * (0.36 + 0.05 * std::sin(a * 5));
            path.lineTo(centre.x() + r * std::sin(a), centre.y() - r * std::cos(a));
        }
        path.closeSubpath();
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(fills[i]);
        p.drawPath(path);
        const double am = i * 90 * M_PI / 180;
        p.setPen(QColor(30, 30, 30));
        p.setFont(captionFont(13, true));
        p.drawText(QRectF(centre.x() + h * 0.22 * std::sin(am) - 40,
                          centre.y() - h * 0.22 * std::cos(am) - 10, 80, 20),
                   Qt::AlignCenter, QString::fromLatin1(names[i]));
    }
    caption(p, size, label);
    return image;
}

QImage product(const QSize& size, const QColor& tint, const QString& label) {
    QImage image = canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient backdrop(0, 0, 0, size.height());
    backdrop.setColorAt(0, QColor(245, 245, 242));
    backdrop.setColorAt(1, QColor(205, 205, 200));
    p.fillRect(image.rect(), backdrop);
    const double w = size.width(), h = size.height() - 24;
    const double r = std::min(w, h) * 0.32;
    const QPointF c(w / 2, h / 2 + r * 0.1);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 50));
    p.drawEllipse(QPointF(c.x(), c.y() + r * 0.95), r * 0.9, r * 0.18);
    QRadialGradient shade(c.x() - r * 0.35, c.y() - r * 0.35, r * 1.4);
    shade.setColorAt(0, tint.lighter(170));
    shade.setColorAt(0.5, tint);
    shade.setColorAt(1, tint.darker(220));
    p.setBrush(shade);
    p.drawEllipse(c, r, r);
    p.setBrush(QColor(255, 255, 255, 120));
    p.drawEllipse(QPointF(c.x() - r * 0.4, c.y() - r * 0.45), r * 0.22, r * 0.12);
    caption(p, size, label);
    return image;
}

QImage skyline(const QSize& size, const QString& label) {
    QImage image = canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient dusk(0, 0, 0, size.height());
    dusk.setColorAt(0, QColor(40, 30, 90));
    dusk.setColorAt(0.7, QColor(240, 120, 80));
    dusk.setColorAt(1, QColor(250, 200, 120));
    p.fillRect(image.rect(), dusk);
    p.setPen(Qt::NoPen);
    unsigned seed = 7;
    auto next = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % static_cast<unsigned>(range));
    };
    for (int x = 0; x < size.width();) {
        const int bw = 24 + next(40);
        const int bh = size.height() / 4 + next(size.height() / 2);
        p.setBrush(QColor(25 + next(20), 20 + next(20), 45 + next(25)));
        p.drawRect(x, size.height() - bh, bw, bh);
        p.setBrush(QColor(255, 220, 130));
        for (int wy = size.height() - bh + 8; wy < size.height() - 30; wy += 14) {
            for (int wx = x + 5; wx < x + bw - 6; wx += 9) {
                if (next(5) == 0) {
                    p.drawRect(wx, wy, 4, 6);
                }
            }
        }
        x += bw + 2;
    }
    caption(p, size, label);
    return image;
}

QImage badge(const QSize& size, const QString& text) {
    QImage image = canvas(size, true);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(size.width() / 2.0, size.height() / 2.0);
    const double r = std::min(size.width(), size.height()) / 2.0 - 4;
    QPainterPath star;
    for (int i = 0; i < 24; ++i) {
        const double a = i * M_PI / 12;
        const double rr = (i % 2 == 0) ? r : r * 0.84;
        const QPointF pt(c.x() + rr * std::sin(a), c.y() - rr * std::cos(a));
        i == 0 ? star.moveTo(pt) : star.lineTo(pt);
    }
    star.closeSubpath();
    p.setPen(QPen(QColor(150, 20, 20), 3));
    p.setBrush(QColor(220, 40, 40));
    p.drawPath(star);
    p.setPen(Qt::white);
    p.setFont(captionFont(static_cast<int>(r * 0.42), true));
    p.drawText(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), Qt::AlignCenter, text);
    return image;
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, std::string(format) == "JPG" ? kJpegQuality : -1);
    return bytes;
}

// One workbook being written; the encoded pictures live until it is closed.
class Book {
public:
    explicit Book(const QString& path) : m_path(path.toStdString()) {
        m_book = workbook_new(m_path.c_str());
        lxw_doc_properties properties{};
        properties.title = const_cast<char*>("Quillfen sample workbook");
        properties.author = const_cast<char*>("Quillfen");
        std::tm created{};
        created.tm_year = 2024 - 1900;
        created.tm_mon = 0;
        created.tm_mday = 1;
        properties.created = timegm(&created);
        workbook_set_properties(m_book, &properties);
        m_bold = workbook_add_format(m_book);
        format_set_bold(m_bold);
    }

    lxw_format* bold() const { return m_bold; }

    lxw_workbook* get() const { return m_book; }

    void picture(lxw_worksheet* sheet, int row, int col, const QImage& image, const char* format,
                 const char* description) {
        m_pictures.push_back(encoded(image, format));
        const QByteArray& bytes = m_pictures.back();
        lxw_image_options options{};
        options.description = const_cast<char*>(description);
        worksheet_insert_image_buffer_opt(sheet, static_cast<lxw_row_t>(row),
                                          static_cast<lxw_col_t>(col),
                                          reinterpret_cast<const unsigned char*>(bytes.constData()),
                                          static_cast<size_t>(bytes.size()), &options);
    }

    bool close() {
        const lxw_error error = workbook_close(m_book);
        if (error != LXW_NO_ERROR) {
            std::fprintf(stderr, "%s: %s\n", m_path.c_str(), lxw_strerror(error));
            return false;
        }
        std::printf("wrote %s\n", m_path.c_str());
        return true;
    }

private:
    std::string m_path;
    lxw_workbook* m_book = nullptr;
    lxw_format* m_bold = nullptr;
    std::list<QByteArray> m_pictures;
};

void quarterTable(lxw_worksheet* sheet, lxw_format* bold) {
    worksheet_write_string(sheet, 0, 0, "Quarter", bold);
    worksheet_write_string(sheet, 0, 1, "Sales", bold);
    const double values[] = {42, 57, 49, 71};
    for (int i = 0; i < 4; ++i) {
        worksheet_write_string(sheet, static_cast<lxw_row_t>(i + 1), 0,
                               ("Q" + std::to_string(i + 1)).c_str(), nullptr);
        worksheet_write_number(sheet, static_cast<lxw_row_t>(i + 1), 1, values[i], nullptr);
    }
}

// Worksheets with an empty one between, a chart sheet among them, PNG and JPEG pictures of
// several sizes, one of them larger than the preview, and an embedded chart that is no picture.
bool salesSummary(const QString& folder) {
    Book book(folder + QStringLiteral("/Sales Summary.xlsx"));
    lxw_format* bold = book.bold();

    lxw_worksheet* summary = workbook_add_worksheet(book.get(), "Summary");
    quarterTable(summary, bold);
    book.picture(summary, 1, 3,
                 barChart(QSize(480, 300), QStringLiteral("Sales Summary / Summary / picture 1")),
                 "PNG", "Bar chart drawn as a picture");
    book.picture(summary, 18, 3,
                 landscape(QSize(800, 533), QStringLiteral("Sales Summary / Summary / picture 2")),
                 "JPG", "Landscape photo, larger than the preview");

    lxw_chartsheet* trend = workbook_add_chartsheet(book.get(), "Trend Chart");
    lxw_chart* line = workbook_add_chart(book.get(), LXW_CHART_LINE);
    lxw_chart_series* series = chart_add_series(line, "=Summary!$A$2:$A$5", "=Summary!$B$2:$B$5");
    chart_series_set_name(series, "Sales");
    chart_title_set_name(line, "Sales trend (a chart sheet: no pictures)");
    chartsheet_set_chart(trend, line);

    lxw_worksheet* notes = workbook_add_worksheet(book.get(), "Notes");
    (void)notes;  // left empty on purpose

    lxw_worksheet* regions = workbook_add_worksheet(book.get(), "Regions");
    worksheet_write_string(regions, 0, 0, "Sales by region", bold);
    book.picture(regions, 2, 0, regionMap(QSize(320, 264), QStringLiteral("Regions / picture 1")),
                 "PNG", "Region map");
    book.picture(
        regions, 2, 6,
        product(QSize(160, 144), QColor(60, 140, 200), QStringLiteral("Regions / picture 2")),
        "JPG", "Small photo");
    lxw_chart* pie = workbook_add_chart(book.get(), LXW_CHART_PIE);
    chart_add_series(pie, "=Summary!$A$2:$A$5", "=Summary!$B$2:$B$5");
    chart_title_set_name(pie, "An embedded chart is not a picture");
    worksheet_insert_chart(regions, 18, 0, pie);
    return book.close();
}

// Product photos of very different shapes: wide, square, small, and a transparent PNG badge.
bool productPhotos(const QString& folder) {
    Book book(folder + QStringLiteral("/Product Photos.xlsx"));
    lxw_format* bold = book.bold();

    lxw_worksheet* catalogue = workbook_add_worksheet(book.get(), "Catalogue");
    worksheet_write_string(catalogue, 0, 0, "Spring catalogue", bold);
    book.picture(catalogue, 2, 0,
                 product(QSize(640, 480), QColor(200, 60, 50),
                         QStringLiteral("Product Photos / Catalogue / picture 1")),
                 "JPG", "Red product");
    book.picture(
        catalogue, 2, 11,
        product(QSize(240, 240), QColor(60, 160, 90), QStringLiteral("Catalogue / picture 2")),
        "JPG", "Green product");
    book.picture(catalogue, 15, 11, badge(QSize(128, 128), QStringLiteral("NEW")), "PNG",
                 "Transparent badge");

    lxw_worksheet* cover = workbook_add_worksheet(book.get(), "Back Cover");
    book.picture(
        cover, 1, 1,
        skyline(QSize(1024, 300), QStringLiteral("Product Photos / Back Cover / picture 1")), "JPG",
        "Wide skyline, wider than the preview");
    book.picture(cover, 20, 1,
                 barChart(QSize(504, 298),
                          QStringLiteral("Back Cover / picture 2, exactly the preview's size")),
                 "PNG", "Picture of the preview's size");
    return book.close();
}

// Only figures: a workbook without a single picture.
bool figuresOnly(const QString& folder) {
    Book book(folder + QStringLiteral("/Figures Only.xlsx"));
    lxw_format* bold = book.bold();
    lxw_worksheet* first = workbook_add_worksheet(book.get(), "Figures");
    quarterTable(first, bold);
    worksheet_write_string(first, 6, 0, "This workbook holds no pictures.", nullptr);
    lxw_worksheet* second = workbook_add_worksheet(book.get(), "More Figures");
    for (int r = 0; r < 20; ++r) {
        for (int c = 0; c < 5; ++c) {
            worksheet_write_number(second, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c),
                                   (r + 1) * (c + 1), nullptr);
        }
    }
    return book.close();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const bool ok = salesSummary(folder) && productPhotos(folder) && figuresOnly(folder);
    return ok ? 0 : 1;
}
