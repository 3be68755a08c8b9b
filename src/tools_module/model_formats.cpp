#include "tools_module/model_formats.hpp"

#include <utility>
#include <vector>

#include "binding/convert.hpp"
#include "persist/huggingface_file.hpp"
#include "persist/memory_sink.hpp"
#include "persist/rank_file.hpp"
#include "persist/rank_file_writer.hpp"
#include "persist/read_files.hpp"
#include "tokenizer/pretok/ranked_model.hpp"
#include "tokenizer/pretok/split_pattern.hpp"
#include "tools_module/raise_errors.hpp"

namespace tessaron::tools {

namespace {

[[noreturn]] void value_error(const std::string& text) {
    Ref message = Ref::checked(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    PyErr_SetObject(PyExc_ValueError, message.get());
    throw py::ErrorAlreadySet{};
}

[[noreturn]] void file_value_error(const std::string& text, PyObject* filename) {
    raise_file_error(IoError::with_message(IoKind::InvalidData, text), filename);
}

// The whole file, or the OSError that names it.
std::string read_whole(const Path& path) {
    std::string bytes;
    std::size_t failed = 0;
    const std::string paths[] = {path.bytes};
    const IoStatus status = persist::read_files(paths, bytes, failed, [](bool) { return true; });
    if (!status.ok()) raise_file_error(status.error(), path.name.get());
    return bytes;
}

std::vector<pretok::RankedToken> rank_dict(PyObject* dict) {
    std::vector<pretok::RankedToken> tokens;
    tokens.reserve(static_cast<std::size_t>(PyDict_Size(dict)));
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t at = 0;
    while (PyDict_Next(dict, &at, &key, &value)) {
        if (!PyBytes_Check(key)) {
            PyErr_Format(PyExc_TypeError, "the tokens of ranks must be bytes, not %.200s",
                         Py_TYPE(key)->tp_name);
            throw py::ErrorAlreadySet{};
        }
        tokens.push_back(
            {std::string(PyBytes_AS_STRING(key), static_cast<std::size_t>(PyBytes_GET_SIZE(key))),
             py::to_u64(value, "a rank")});
    }
    return tokens;
}

std::vector<std::pair<std::string, TokenId>> special_dict(PyObject* object) {
    std::vector<std::pair<std::string, TokenId>> specials;
    if (object == nullptr || object == Py_None) return specials;
    if (!PyDict_Check(object)) {
        PyErr_Format(PyExc_TypeError, "special_tokens must be a dict of str to int, not %.200s",
                     Py_TYPE(object)->tp_name);
        throw py::ErrorAlreadySet{};
    }
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t at = 0;
    while (PyDict_Next(object, &at, &key, &value)) {
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "a special token must be str, not %.200s",
                         Py_TYPE(key)->tp_name);
            throw py::ErrorAlreadySet{};
        }
        specials.emplace_back(std::string(py::to_utf8(key, "a special token")),
                              py::to_u64(value, "a special token's id"));
    }
    return specials;
}

ForeignModel built(const ForeignParts& parts, PyObject* filename) {
    ForeignBuild build = build_foreign_model(parts);
    if (!build.built) {
        if (filename != nullptr) file_value_error(build.error, filename);
        value_error(build.error);
    }
    return std::move(*build.built);
}

ForeignModel from_huggingface(std::string_view json, PyObject* filename) {
    persist::HuggingFaceRead read = persist::parse_huggingface(json);
    if (!read.error.empty()) {
        if (filename != nullptr) file_value_error(read.error, filename);
        value_error(read.error);
    }
    if (const auto known = pretok::find_scanner(read.parts.pattern)) {
        read.parts.pattern = std::string(pretok::expression_of(*known));
    } else if (!read.parts.pattern.empty()) {
        // Its syntax is Oniguruma's; the engine here reads the `regex` module's, alike for
        // every construct but those it names.
        const std::string text = pretok::huggingface_difference(read.parts.pattern);
        if (!text.empty()) {
            if (filename != nullptr) file_value_error(text, filename);
            value_error(text);
        }
    }
    return built(read.parts, filename);
}

ForeignExport exported(const basic::Model& model, const IdMap* ids) {
    ForeignExport out = export_foreign_model(model, ids);
    if (!out.error.empty()) value_error(out.error);
    return out;
}

ForeignExport exported_for_huggingface(const basic::Model& model, const IdMap* ids) {
    ForeignExport out = exported(model, ids);
    if (const std::string error = persist::huggingface_check(out); !error.empty()) {
        value_error(error);
    }
    return out;
}

}  // namespace

ForeignModel tiktoken_model(PyObject* ranks, PyObject* pattern_object, PyObject* specials) {
    const std::optional<pretok::SplitPattern> pattern = to_split_pattern(pattern_object);
    if (!pattern) {
        PyErr_SetString(PyExc_TypeError, "pattern must be str, not None");
        throw py::ErrorAlreadySet{};
    }
    std::vector<pretok::RankedToken> tokens;
    std::optional<Path> path;
    if (PyDict_Check(ranks)) {
        tokens = rank_dict(ranks);
    } else {
        path = to_path(ranks, "ranks");
        persist::RankFile file = persist::parse_rank_file(read_whole(*path));
        if (!file.error.empty()) file_value_error(file.error, path->name.get());
        tokens = std::move(file.tokens);
    }
    PyObject* filename = path ? path->name.get() : nullptr;
    const pretok::RulesFromRanks derived = pretok::rules_from_ranks(tokens);
    if (!derived.error.empty()) {
        if (filename != nullptr) file_value_error(derived.error, filename);
        value_error(derived.error);
    }
    ForeignParts parts = pretok::parts_from_ranks(derived);
    parts.pattern = pattern->expression();
    parts.special_tokens = special_dict(specials);
    return built(parts, filename);
}

ForeignModel huggingface_model(const Path& path) {
    return from_huggingface(read_whole(path), path.name.get());
}

ForeignModel huggingface_model_of(std::string_view json) { return from_huggingface(json, nullptr); }

void save_tiktoken(const basic::Model& model, const IdMap* ids, const Path& path) {
    const pretok::RankTable table = pretok::rank_table_of(exported(model, ids));
    if (!table.error.empty()) value_error(table.error);
    const IoStatus status = persist::write_rank_file(table.tokens, path.bytes);
    if (!status.ok()) raise_file_error(status.error(), path.name.get());
}

void save_huggingface(const basic::Model& model, const IdMap* ids, const Path& path) {
    const ForeignExport out = exported_for_huggingface(model, ids);
    const IoStatus status = persist::write_huggingface_file(out, path.bytes);
    if (!status.ok()) raise_file_error(status.error(), path.name.get());
}

std::string huggingface_json(const basic::Model& model, const IdMap* ids) {
    persist::MemorySink sink;
    persist::write_huggingface(exported_for_huggingface(model, ids), sink);
    return sink.take();
}

}  // namespace tessaron::tools
