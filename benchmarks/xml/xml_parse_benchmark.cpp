// Parses one generated 20 MB UTF-8 XML file of about 200,000 elements with CXmlDocument,
// pugixml and libxml2 and reports each one's throughput in bytes per second of file; then
// parses malformed texts whose cost must grow in proportion to their size.

#include "core/core.h"
#include "xml/xml_document.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <pugixml.hpp>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

// A bookshelf-like document: records of four fields with Chinese text and entity references.
const std::string& GeneratedDocument() {
    static const std::string document = [] {
        std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n";
        for (int i = 0; text.size() < 20'000'000; ++i) {
            std::string n = std::to_string(i);
            text += "<Book id=\"" + n +
                    "\">\r\n<Name>\xE6\x96\x97\xE7\xA0\xB4\xE8\x8B\x8D\xE7\xA9\xB9 " + n +
                    " &amp; "
                    "more</Name>\r\n<Author>\xE5\xA4\xA9\xE8\x9A\x95\xE5\x9C\x9F\xE8\xB1\x86</"
                    "Author>\r\n"
                    "<ContentsPagePath>Novel/site/" +
                    n + "/index.html</ContentsPagePath>\r\n</Book>\r\n";
        }
        text += "</BookShelf>\r\n";
        return text;
    }();
    return document;
}

std::u16string DocumentFile() {
    static const std::string path = [] {
        std::string name = "/tmp/velunor_xml_benchmark_" + std::to_string(::getpid()) + ".xml";
        FILE* file = std::fopen(name.c_str(), "wb");
        std::fwrite(GeneratedDocument().data(), 1, GeneratedDocument().size(), file);
        std::fclose(file);
        return name;
    }();
    return std::u16string(path.begin(), path.end());
}

void SetThroughput(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * GeneratedDocument().size()));
}

// The whole LoadFile: reading the file (from the page cache), UTF-8 decoding and parsing.
void CXmlDocumentLoadFile(benchmark::State& state) {
    std::u16string path = DocumentFile();
    for (auto _ : state) {
        velunor::CXmlDocument document;
        bool wellFormed = document.LoadFile(path);
        benchmark::DoNotOptimize(wellFormed);
    }
    SetThroughput(state);
}

// The same bytes in memory: UTF-8 decoding plus the parse, as the other two parsers get them.
void CXmlDocumentDecodeAndParse(benchmark::State& state) {
    const std::string& bytes = GeneratedDocument();
    for (auto _ : state) {
        std::u16string wide;
        velunor::DecodeCharset(bytes, "UTF-8", wide);
        velunor::CXmlDocument document;
        bool wellFormed = document.SetDocumentText(wide);
        benchmark::DoNotOptimize(wellFormed);
    }
    SetThroughput(state);
}

// The parse alone, on text already decoded.
void CXmlDocumentParseOnly(benchmark::State& state) {
    std::u16string wide;
    velunor::DecodeCharset(GeneratedDocument(), "UTF-8", wide);
    velunor::CXmlDocument document(wide);
    for (auto _ : state) {
        bool wellFormed = document.ParseDocument();
        benchmark::DoNotOptimize(wellFormed);
    }
    SetThroughput(state);
}

// `count` unended start tags, each followed by an end tag that matches none of them, as in a
// damaged rule file or page.
std::u16string UnmatchedEndTags(int64_t count) {
    std::u16string text;
    for (int64_t i = 0; i < count; ++i) {
        text += u"<a></b>";
    }
    return text;
}

// `count` levels of <w><z>, their content, and the </w> that unend each z: every level moves
// everything inside it up one level.
std::u16string UnendedTagsClosedFromOutside(int64_t count) {
    std::u16string text;
    for (int64_t i = 0; i < count; ++i) {
        text += u"<w><z>";
    }
    for (int64_t i = 0; i < count; ++i) {
        text += u"<c/>";
    }
    for (int64_t i = 0; i < count; ++i) {
        text += u"</w>";
    }
    return text;
}

void ParseMalformed(benchmark::State& state, std::u16string (*generate)(int64_t)) {
    std::u16string text = generate(state.range(0));
    velunor::CXmlDocument document(text);
    for (auto _ : state) {
        bool wellFormed = document.ParseDocument();
        benchmark::DoNotOptimize(wellFormed);
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void CXmlDocumentUnmatchedEndTags(benchmark::State& state) {
    ParseMalformed(state, UnmatchedEndTags);
}

void CXmlDocumentUnendedTagsClosedFromOutside(benchmark::State& state) {
    ParseMalformed(state, UnendedTagsClosedFromOutside);
}

void Pugixml(benchmark::State& state) {
    const std::string& bytes = GeneratedDocument();
    for (auto _ : state) {
        pugi::xml_document document;
        pugi::xml_parse_result result = document.load_buffer(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(result.status);
    }
    SetThroughput(state);
}

void Libxml2(benchmark::State& state) {
    const std::string& bytes = GeneratedDocument();
    for (auto _ : state) {
        xmlDocPtr document = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()),
                                           "bench.xml", nullptr, XML_PARSE_NONET);
        benchmark::DoNotOptimize(document);
        xmlFreeDoc(document);
    }
    SetThroughput(state);
}

BENCHMARK(CXmlDocumentLoadFile)->Unit(benchmark::kMillisecond);
BENCHMARK(CXmlDocumentDecodeAndParse)->Unit(benchmark::kMillisecond);
BENCHMARK(CXmlDocumentParseOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(Pugixml)->Unit(benchmark::kMillisecond);
BENCHMARK(Libxml2)->Unit(benchmark::kMillisecond);
// 80,000 pairs is the case that took 2.6 s; the larger sizes show the growth.
BENCHMARK(CXmlDocumentUnmatchedEndTags)
    ->Arg(80'000)
    ->Arg(320'000)
    ->Arg(1'280'000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CXmlDocumentUnendedTagsClosedFromOutside)
    ->Arg(20'000)
    ->Arg(80'000)
    ->Arg(320'000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::u16string path = DocumentFile();
    std::remove(std::string(path.begin(), path.end()).c_str());
    return 0;
}
