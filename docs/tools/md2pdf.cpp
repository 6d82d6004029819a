// Renders a Markdown file to PDF with Qt's own Markdown reader, so the
// manual needs nothing beyond Qt at build time.
//   md2pdf INPUT.md OUTPUT.pdf
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QGuiApplication>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Scales every picture wider or taller than the printable area down to fit
// it, keeping its proportions; smaller pictures keep their own size.
void FitImages(QTextDocument& document, const QDir& folder, QSizeF area) {
  struct Fit {
    int position;
    int length;
    QTextImageFormat format;
  };
  std::vector<Fit> fits;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.charFormat().isImageFormat()) continue;
      QTextImageFormat format = fragment.charFormat().toImageFormat();
      const QSize natural = QImageReader(folder.absoluteFilePath(format.name())).size();
      if (!natural.isValid()) continue;
      const qreal width = format.width() > 0 ? format.width() : natural.width();
      const qreal height = format.height() > 0 ? format.height() : natural.height();
      const qreal scale = std::min({1.0, area.width() / width, area.height() / height});
      if (scale >= 1.0) continue;
      format.setWidth(width * scale);
      format.setHeight(height * scale);
      fits.push_back({fragment.position(), fragment.length(), format});
    }
  }
  for (const Fit& fit : fits) {
    QTextCursor cursor(&document);
    cursor.setPosition(fit.position);
    cursor.setPosition(fit.position + fit.length, QTextCursor::KeepAnchor);
    cursor.setCharFormat(fit.format);
  }
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: md2pdf INPUT.md OUTPUT.pdf\n");
    return 2;
  }
  QFile input(QString::fromLocal8Bit(argv[1]));
  if (!input.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "md2pdf: cannot read %s\n", argv[1]);
    return 1;
  }
  const QString markdown = QString::fromUtf8(input.readAll());

  QTextDocument document;
  // Images named relative to the manual are found beside it.
  document.setBaseUrl(QUrl::fromLocalFile(QFileInfo(input).absolutePath() + "/"));
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPointSize(10);
  document.setDefaultFont(font);
  document.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);

  QPdfWriter writer(QString::fromLocal8Bit(argv[2]));
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setResolution(96);
  writer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
  writer.setTitle(QStringLiteral("Vorlan manual"));
  writer.setCreator(QStringLiteral("vorlan md2pdf"));
  const QSizeF page = writer.pageLayout().paintRectPixels(writer.resolution()).size();
  document.setPageSize(page);
  const qreal margin = 2 * document.documentMargin();
  FitImages(document, QFileInfo(input).absoluteDir(), QSizeF(page.width() - margin, page.height() - margin));
  document.print(&writer);
  if (!QFileInfo::exists(QString::fromLocal8Bit(argv[2]))) {
    std::fprintf(stderr, "md2pdf: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
