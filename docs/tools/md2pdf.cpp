// Renders a Markdown file to PDF with Qt's own Markdown reader, so the
// manual needs nothing beyond Qt at build time.
//   md2pdf INPUT.md OUTPUT.pdf
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

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
  document.setPageSize(writer.pageLayout().paintRectPixels(writer.resolution()).size());
  document.print(&writer);
  if (!QFileInfo::exists(QString::fromLocal8Bit(argv[2]))) {
    std::fprintf(stderr, "md2pdf: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
