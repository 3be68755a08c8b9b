// Models kept in other libraries' formats: tiktoken's rank files (or a rank dict) and Hugging
// Face's tokenizer.json, read into a model of ours with the map to the source's ids, and
// written back. Each throws ErrorAlreadySet with the exception set: ValueError for a file that
// is not such a model (its name first), OSError naming the file for the rest.
#pragma once

#include <string>
#include <string_view>

#include "binding/ref.hpp"
#include "tokenizer/basic/model.hpp"
#include "tokenizer/foreign_model.hpp"
#include "tokenizer/id_map.hpp"
#include "tools_module/arguments.hpp"

namespace tessaron::tools {

// `ranks`: a path of a rank file or a dict of bytes to int; `pattern` as train() takes it;
// `specials`: null, None or a dict of str to int.
ForeignModel tiktoken_model(PyObject* ranks, PyObject* pattern, PyObject* specials);
ForeignModel huggingface_model(const Path& path);
// The text of a tokenizer.json.
ForeignModel huggingface_model_of(std::string_view json);

// `ids` null: the model's ids are its own.
void save_tiktoken(const basic::Model& model, const IdMap* ids, const Path& path);
void save_huggingface(const basic::Model& model, const IdMap* ids, const Path& path);
std::string huggingface_json(const basic::Model& model, const IdMap* ids);

}  // namespace tessaron::tools
