// The class tessaron_tools.Tokenizer: its methods beside the table that lists them.
//
// A Tokenizer never changes once made (every maker is a class method), so its methods need
// no access flag, and any of them may run without the interpreter lock while other threads
// use the same object.
#include "tools_module/tokenizer_type.hpp"

#include <cstring>
#include <deque>
#include <memory>
#include <span>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "binding/batch_lists.hpp"
#include "binding/binder.hpp"
#include "binding/guarded.hpp"
#include "binding/id_ints.hpp"
#include "binding/interned_name.hpp"
#include "binding/convert.hpp"
#include "binding/results.hpp"
#include "binding/signature.hpp"
#include "parallel/pool_size.hpp"
#include "persist/model_file_reader.hpp"
#include "persist/field_splitter.hpp"
#include "persist/model_file_writer.hpp"
#include "tokenizer/basic/encode.hpp"
#include "tokenizer/basic/encode_batch.hpp"
#include "tokenizer/basic/encode_with_specials.hpp"
#include "tokenizer/pretok/piece_encoder.hpp"
#include "tokenizer/pretok/split_pattern.hpp"
#include "tools_module/arguments.hpp"
#include "tools_module/model_formats.hpp"
#include "tools_module/raise_errors.hpp"
#include "tools_module/training.hpp"

namespace tessaron::tools {

namespace {

using py::BoundArgs;
using py::guarded;
using py::MethodSignature;

constexpr const char* kClass = "Tokenizer";

struct TokenizerObject {
    PyObject_HEAD
    const basic::Model* model;
    // The model's own ids, for a model from elsewhere that no model file can hold; else null.
    const IdMap* ids;
    py::IdInts* ints;  // of the model's tokens, made at the first list
    // Null unless the model has a split pattern; learns while the object lives.
    pretok::KnownPieces* known;
};

TokenizerObject& object_of(PyObject* self) { return *reinterpret_cast<TokenizerObject*>(self); }
const basic::Model& model_of(PyObject* self) { return *object_of(self).model; }

// The list of the token numbers `self`'s model gave.
Ref list_of(PyObject* self, std::span<const std::uint32_t> numbers) {
    return object_of(self).ints->list_of(model_of(self), numbers);
}

bool has_white_space(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (persist::white_space_length(text.substr(i)) > 0) return true;
    }
    return false;
}

// Whether a model file holds the model with these ids: its own ids, special tokens that are
// one field each and a pattern on one line.
bool fits_model_file(const basic::Model& model, const IdMap& ids) {
    if (!ids.is_identity() || model.pattern().find_first_of("\r\n") != std::string::npos) {
        return false;
    }
    for (const auto& [text, id] : model.special_tokens()) {
        if (has_white_space(text)) return false;
    }
    return true;
}

// Releases the interpreter lock for the life of the scope.
class WithoutLock {
public:
    WithoutLock() : saved_(PyEval_SaveThread()) {}
    ~WithoutLock() { PyEval_RestoreThread(saved_); }
    WithoutLock(const WithoutLock&) = delete;
    WithoutLock& operator=(const WithoutLock&) = delete;

private:
    PyThreadState* saved_;
};

PyObject* wrap(PyTypeObject* type, basic::Model model, std::optional<IdMap> ids = std::nullopt) {
    auto owned = std::make_unique<basic::Model>(std::move(model));
    std::unique_ptr<IdMap> owned_ids;
    if (ids && !fits_model_file(*owned, *ids)) owned_ids = std::make_unique<IdMap>(std::move(*ids));
    auto ints = std::make_unique<py::IdInts>(owned_ids.get());
    std::unique_ptr<pretok::KnownPieces> known;
    if (!owned->pattern().empty()) {
        const WithoutLock unlocked;
        known = pretok::known_pieces_of(*owned);
    }
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) py::throw_error_set();
    object_of(self).model = owned.release();
    object_of(self).ids = owned_ids.release();
    object_of(self).ints = ints.release();
    object_of(self).known = known.release();
    return self;
}

PyObject* wrap(PyObject* cls, ForeignModel foreign) {
    return wrap(reinterpret_cast<PyTypeObject*>(cls), std::move(foreign.model),
                std::move(foreign.ids));
}

// The model's own id of one of ours, and back; null ids: they are the same.
TokenId outer_id(PyObject* self, TokenId inner) {
    const IdMap* ids = object_of(self).ids;
    return ids == nullptr ? inner : ids->outer(inner);
}

// The token of one of the model's own ids; the id raises when it names none.
const std::string& token_of(PyObject* self, TokenId id) {
    const IdMap* ids = object_of(self).ids;
    std::optional<TokenId> inner = id;
    if (ids != nullptr) inner = ids->inner(id);
    const std::string* token = inner ? model_of(self).token_bytes(*inner) : nullptr;
    if (token == nullptr) unknown_id(id);
    return *token;
}

// A model that only its source's format holds cannot become a model file.
void require_model_file_ids(PyObject* self) {
    if (object_of(self).ids == nullptr) return;
    PyErr_SetString(PyExc_ValueError,
                    "this tokenizer's ids or special tokens do not fit a model file; save it "
                    "with to_tiktoken() or to_huggingface()");
    throw py::ErrorAlreadySet{};
}

// Texts shorter than this encode with the lock held: releasing it costs more.
constexpr std::size_t kReleaseLockFrom = 64 << 10;

Ref bytes_object(std::string_view bytes) {
    return Ref::checked(
        PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
}

// The joined bytes of the tokens; the first id without a token raises.
std::string joined_bytes(PyObject* self, PyObject* ids_object) {
    const IdList list = to_id_list(ids_object);
    std::vector<const std::string*> tokens;
    tokens.reserve(list.ids.size());
    std::size_t total = 0;
    for (TokenId id : list.ids) {
        const std::string* token = &token_of(self, id);
        tokens.push_back(token);
        total += token->size();
    }
    if (list.out_of_range) unknown_id(list.out_of_range.get());
    std::string bytes;
    bytes.reserve(total);
    for (const std::string* token : tokens) bytes += *token;
    return bytes;
}

// ---- making one ----------------------------------------------------------------------------

constexpr MethodSignature kNew{kClass, "__new__", {}};

PyObject* tokenizer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        py::bind_tuple(kNew, args, kwargs);
        basic::Model model;
        model.reset_to_bytes();
        return wrap(type, std::move(model));
    });
}

void tokenizer_dealloc(PyObject* self) {
    delete object_of(self).known;
    delete object_of(self).ints;
    delete object_of(self).ids;
    delete object_of(self).model;
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// The arguments train and train_files share, converted before any work starts.
struct Training {
    TrainSettings settings;
    std::vector<std::string> specials;
};

Training training_arguments(const BoundArgs& bound) {
    const std::uint64_t vocab_size = py::to_u64(bound[1].get(), "vocab_size");
    const std::uint64_t threads = to_thread_count(bound[2].get(), 1);
    std::vector<std::string> specials =
        bound[3] ? to_new_special_tokens(bound[3].get()) : std::vector<std::string>{};
    PyObject* progress = to_callback(bound[4].get(), "progress");
    const std::optional<pretok::SplitPattern> pattern = to_split_pattern(bound[5].get());
    const std::uint64_t least = 256 + specials.size();
    if (vocab_size < least) {
        if (specials.empty()) {
            PyErr_SetString(PyExc_ValueError, "vocab_size must be at least 256");
        } else {
            PyErr_Format(PyExc_ValueError,
                         "vocab_size must be at least %llu: 256 bytes and %zu special tokens",
                         static_cast<unsigned long long>(least), specials.size());
        }
        throw py::ErrorAlreadySet{};
    }
    return {{vocab_size - least, threads, progress, pattern}, std::move(specials)};
}

// The new tokenizer: the learned model with the special tokens after its rules.
PyObject* trained(PyObject* cls, basic::Model model, const std::vector<std::string>& specials) {
    if (!specials.empty()) {
        basic::SpecialTokenMap special_map;
        TokenId id = 256 + model.merges().size();
        for (const std::string& token : specials) special_map.insert(token, id++);
        basic::MergeMap merges = model.merges();
        model.replace(std::move(merges), std::move(special_map), model.pattern());
    }
    return wrap(reinterpret_cast<PyTypeObject*>(cls), std::move(model));
}

constexpr MethodSignature kTrain{kClass,
                                 "train",
                                 {{"text"},
                                  {"vocab_size"},
                                  {"threads", "1", true},
                                  {"special_tokens", "()", true},
                                  {"progress", "None", true},
                                  {"pattern", "None", true}},
                                 py::Receiver::Type};

PyObject* tokenizer_train(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kTrain, args, nargs, kwnames);
        const TextBytes text(bound[0].get(), "text");
        const Training training = training_arguments(bound);
        const std::string_view bytes = text.view();
        return trained(
            cls,
            train_without_lock({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                               training.settings),
            training.specials);
    });
}

constexpr MethodSignature kTrainFiles{kClass,
                                      "train_files",
                                      {{"paths"},
                                       {"vocab_size"},
                                       {"threads", "1", true},
                                       {"special_tokens", "()", true},
                                       {"progress", "None", true},
                                       {"pattern", "None", true}},
                                      py::Receiver::Type};

py::InternedName fspath_name("__fspath__");

PyObject* tokenizer_train_files(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kTrainFiles, args, nargs, kwnames);
        PyObject* paths_object = bound[0].get();
        // A single path would be read as the files named by its characters.
        if (PyUnicode_Check(paths_object) || PyBytes_Check(paths_object) ||
            PyObject_HasAttr(paths_object, fspath_name.get())) {
            PyErr_SetString(PyExc_TypeError, "paths must be an iterable of paths, not one path");
            throw py::ErrorAlreadySet{};
        }
        std::vector<Path> paths;
        Ref iterator = Ref::checked(PyObject_GetIter(paths_object));
        while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
            paths.push_back(to_path(item.get(), "a path"));
        }
        if (PyErr_Occurred()) py::throw_error_set();
        const Training training = training_arguments(bound);
        return trained(cls, train_files_without_lock(paths, training.settings), training.specials);
    });
}

constexpr MethodSignature kLoad{kClass, "load", {{"path"}}, py::Receiver::Type};

// A stored pattern this face cannot split by would give other ids than the model's maker:
// refused at loading rather than at every encode. `filename` may be null.
void check_stored_pattern(const basic::Model& model, PyObject* filename) {
    if (model.pattern().empty()) return;
    const auto pattern = pretok::split_pattern(model.pattern());
    const auto* error = std::get_if<pretok::PatternError>(&pattern);
    if (error == nullptr) return;
    if (filename != nullptr) {
        PyErr_Format(PyExc_ValueError, "%S:2: the model's pattern cannot be run: %s", filename,
                     error->message.c_str());
    } else {
        PyErr_Format(PyExc_ValueError, "line 2: the model's pattern cannot be run: %s",
                     error->message.c_str());
    }
    throw py::ErrorAlreadySet{};
}

PyObject* tokenizer_load(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kLoad, args, nargs, kwnames);
        const Path path = to_path(bound[0].get(), "path");
        basic::Model model;
        IoStatus status;
        {
            const WithoutLock unlocked;
            status = persist::read_model_file(model, path.bytes);
        }
        if (!status.ok()) raise_file_error(status.error(), path.name.get());
        check_stored_pattern(model, path.name.get());
        return wrap(reinterpret_cast<PyTypeObject*>(cls), std::move(model));
    });
}

constexpr MethodSignature kFromBytes{kClass, "from_bytes", {{"data"}}, py::Receiver::Type};

PyObject* tokenizer_from_bytes(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kFromBytes, args, nargs, kwnames);
        if (PyUnicode_Check(bound[0].get())) {
            PyErr_SetString(PyExc_TypeError, "data must be a bytes-like object, not str");
            throw py::ErrorAlreadySet{};
        }
        const TextBytes data(bound[0].get(), "data");
        basic::Model model;
        IoStatus status;
        {
            const WithoutLock unlocked;
            status = persist::read_model_bytes(model, data.view());
        }
        if (!status.ok()) raise_model_error(status.error());
        check_stored_pattern(model, nullptr);
        return wrap(reinterpret_cast<PyTypeObject*>(cls), std::move(model));
    });
}

// ---- looking in ----------------------------------------------------------------------------

Py_ssize_t tokenizer_len(PyObject* self) {
    return static_cast<Py_ssize_t>(model_of(self).vocab_size());
}

PyObject* get_vocab_size(PyObject* self, void*) {
    return PyLong_FromSize_t(model_of(self).vocab_size());
}

PyObject* get_merges(PyObject* self, void*) {
    return guarded([&] {
        const basic::MergeMap& merges = model_of(self).merges();
        Ref list = Ref::checked(PyList_New(static_cast<Py_ssize_t>(merges.size())));
        Py_ssize_t i = 0;
        for (const auto& [pair, id] : merges) {
            PyObject* item =
                Py_BuildValue("(KK)", static_cast<unsigned long long>(outer_id(self, pair.left)),
                              static_cast<unsigned long long>(outer_id(self, pair.right)));
            if (item == nullptr) py::throw_error_set();
            PyList_SET_ITEM(list.get(), i++, item);
        }
        return list.release();
    });
}

PyObject* get_special_tokens(PyObject* self, void*) {
    return guarded([&] {
        Ref dict = Ref::checked(PyDict_New());
        for (const auto& [text, id] : model_of(self).special_tokens()) {
            Ref key = py::utf8_to_str(text);
            Ref value = Ref::checked(PyLong_FromUnsignedLongLong(outer_id(self, id)));
            if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) py::throw_error_set();
        }
        return dict.release();
    });
}

constexpr MethodSignature kTokenBytes{kClass, "token_bytes", {{"id"}}};

PyObject* tokenizer_token_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kTokenBytes, args, nargs, kwnames);
        return bytes_object(token_of(self, to_token_id(bound[0].get()))).release();
    });
}

PyObject* tokenizer_repr(PyObject* self) {
    return PyUnicode_FromFormat("<tessaron_tools.Tokenizer vocab_size=%zu>",
                                model_of(self).vocab_size());
}

// ---- encoding and decoding -----------------------------------------------------------------

constexpr MethodSignature kEncode{kClass, "encode", {{"text"}, {"allowed_special", "()", true}}};

PyObject* tokenizer_encode(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kEncode, args, nargs, kwnames);
        const basic::Model& model = model_of(self);
        const TextBytes text(bound[0].get(), "text");
        const std::optional<SpecialMatcher> specials =
            bound[1] ? to_allowed_special(bound[1].get(), model) : std::nullopt;
        std::vector<std::uint32_t> numbers;
        // Most texts take fewer tokens than a quarter of their bytes.
        numbers.reserve(text.view().size() / 4 + 16);
        if (text.view().size() < kReleaseLockFrom) {
            basic::encode_with_specials(model, text.view(), specials ? &*specials : nullptr,
                                        object_of(self).known, numbers);
        } else {
            const WithoutLock unlocked;
            basic::encode_with_specials(model, text.view(), specials ? &*specials : nullptr,
                                        object_of(self).known, numbers);
        }
        return list_of(self, numbers).release();
    });
}

constexpr MethodSignature kEncodeBatch{
    kClass,
    "encode_batch",
    {{"texts"}, {"threads", "None", true}, {"allowed_special", "()", true}}};

// The arguments of the batch methods: texts, threads, allowed_special.
struct BatchArguments {
    std::deque<TextBytes> texts;  // owns what `views` shows
    std::vector<std::string_view> views;
    std::size_t threads;
    std::optional<SpecialMatcher> specials;
    const SpecialMatcher* matcher() const { return specials ? &*specials : nullptr; }
};

BatchArguments to_batch_arguments(const BoundArgs& bound, const basic::Model& model) {
    if (PyUnicode_Check(bound[0].get()) || PyObject_CheckBuffer(bound[0].get())) {
        PyErr_SetString(PyExc_TypeError, "texts must be an iterable of texts, not one text");
        throw py::ErrorAlreadySet{};
    }
    BatchArguments batch;
    batch.threads =
        static_cast<std::size_t>(to_thread_count(bound[1].get(), parallel::usable_processors()));
    if (bound[2]) batch.specials = to_allowed_special(bound[2].get(), model);
    Ref iterator = Ref::checked(PyObject_GetIter(bound[0].get()));
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        batch.texts.emplace_back(item.get(), "each text");
    }
    if (PyErr_Occurred()) py::throw_error_set();
    batch.views.reserve(batch.texts.size());
    for (const TextBytes& text : batch.texts) batch.views.push_back(text.view());
    return batch;
}

PyObject* tokenizer_encode_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kEncodeBatch, args, nargs, kwnames);
        const basic::Model& model = model_of(self);
        const BatchArguments batch = to_batch_arguments(bound, model);
        return py::encode_batch_lists(*object_of(self).ints, model, batch.views, batch.matcher(),
                                      object_of(self).known, batch.threads)
            .release();
    });
}

// One bytes object of the pieces, each freed once copied.
Ref joined_pieces(std::vector<std::string>& pieces) {
    std::size_t total = 0;
    for (const std::string& piece : pieces) total += piece.size();
    Ref joined = Ref::checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(total)));
    char* at = PyBytes_AS_STRING(joined.get());
    for (std::string& piece : pieces) {
        at = std::copy(piece.begin(), piece.end(), at);
        std::string().swap(piece);
    }
    return joined;
}

constexpr MethodSignature kEncodeBatchLines{
    kClass,
    "encode_batch_lines",
    {{"texts"}, {"threads", "None", true}, {"allowed_special", "()", true}}};

PyObject* tokenizer_encode_batch_lines(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kEncodeBatchLines, args, nargs, kwnames);
        const basic::Model& model = model_of(self);
        const BatchArguments batch = to_batch_arguments(bound, model);
        std::vector<std::string> pieces;
        {
            const WithoutLock unlocked;
            pieces = basic::encode_batch_lines(model, batch.views, batch.matcher(),
                                               object_of(self).known, batch.threads,
                                               object_of(self).ids);
        }
        return joined_pieces(pieces).release();
    });
}

constexpr MethodSignature kEncodeLines{
    kClass, "encode_lines", {{"data"}, {"threads", "None", true}, {"allowed_special", "()", true}}};

// The ids of each line of a run of input, as text; the lines are found without the lock, so a
// run costs the interpreter one call however many lines it holds.
PyObject* tokenizer_encode_lines(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kEncodeLines, args, nargs, kwnames);
        const basic::Model& model = model_of(self);
        const TextBytes data(bound[0].get(), "data");
        const std::size_t threads = static_cast<std::size_t>(
            to_thread_count(bound[1].get(), parallel::usable_processors()));
        const std::optional<SpecialMatcher> specials =
            bound[2] ? to_allowed_special(bound[2].get(), model) : std::nullopt;
        std::vector<std::string> pieces;
        {
            const WithoutLock unlocked;
            pieces = basic::encode_batch_lines(model, basic::split_lines(data.view()),
                                               specials ? &*specials : nullptr,
                                               object_of(self).known, threads, object_of(self).ids);
        }
        return joined_pieces(pieces).release();
    });
}

constexpr MethodSignature kDecodeBytes{kClass, "decode_bytes", {{"ids"}}};

PyObject* tokenizer_decode_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kDecodeBytes, args, nargs, kwnames);
        return bytes_object(joined_bytes(self, bound[0].get())).release();
    });
}

constexpr MethodSignature kDecode{kClass, "decode", {{"ids"}, {"errors", "'replace'"}}};

// The error handler named by decode's `errors` (absent: "replace"); the str keeps it alive.
const char* to_errors(PyObject* errors_object) {
    if (errors_object == nullptr) return "replace";
    if (!PyUnicode_Check(errors_object)) {
        PyErr_Format(PyExc_TypeError, "errors must be str, not %.200s",
                     Py_TYPE(errors_object)->tp_name);
        throw py::ErrorAlreadySet{};
    }
    const char* errors = PyUnicode_AsUTF8(errors_object);
    if (errors == nullptr) py::throw_error_set();
    return errors;
}

PyObject* decoded_text(PyObject* self, PyObject* ids_object, const char* errors) {
    const std::string bytes = joined_bytes(self, ids_object);
    return PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), errors);
}

PyObject* tokenizer_decode(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kDecode, args, nargs, kwnames);
        return decoded_text(self, bound[0].get(), to_errors(bound[1].get()));
    });
}

constexpr MethodSignature kDecodeBatch{
    kClass, "decode_batch", {{"batch"}, {"errors", "'replace'"}}};

PyObject* tokenizer_decode_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kDecodeBatch, args, nargs, kwnames);
        const char* errors = to_errors(bound[1].get());
        Ref texts = Ref::checked(PyList_New(0));
        Ref iterator = Ref::checked(PyObject_GetIter(bound[0].get()));
        while (Ref ids = Ref::steal(PyIter_Next(iterator.get()))) {
            // A flat list of ids would otherwise fail at its first id, with a message about
            // ids rather than about the batch.
            if (PyLong_Check(ids.get())) {
                PyErr_SetString(PyExc_TypeError,
                                "batch must be an iterable of id sequences, not of ids");
                throw py::ErrorAlreadySet{};
            }
            const Ref text = Ref::checked(decoded_text(self, ids.get(), errors));
            if (PyList_Append(texts.get(), text.get()) < 0) py::throw_error_set();
        }
        if (PyErr_Occurred()) py::throw_error_set();
        return texts.release();
    });
}

// ---- storing -------------------------------------------------------------------------------

constexpr MethodSignature kToBytes{kClass, "to_bytes", {}};

PyObject* tokenizer_to_bytes(PyObject* self, PyObject*) {
    return guarded([&] {
        require_model_file_ids(self);
        return bytes_object(persist::model_file_bytes(model_of(self))).release();
    });
}

constexpr MethodSignature kSave{kClass, "save", {{"path"}}};

PyObject* tokenizer_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kSave, args, nargs, kwnames);
        const Path path = to_path(bound[0].get(), "path");
        require_model_file_ids(self);
        IoStatus status;
        {
            const WithoutLock unlocked;
            status = persist::write_model_file(model_of(self), path.bytes);
        }
        if (!status.ok()) raise_file_error(status.error(), path.name.get());
        return py::none().release();
    });
}

constexpr MethodSignature kReduce{kClass, "__reduce__", {}};

py::InternedName from_huggingface_json_name("from_huggingface_json");
py::InternedName from_bytes_name("from_bytes");

PyObject* tokenizer_reduce(PyObject* self, PyObject*) {
    return guarded([&] {
        PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
        if (object_of(self).ids != nullptr) {
            Ref maker = Ref::checked(PyObject_GetAttr(type, from_huggingface_json_name.get()));
            Ref data = py::utf8_to_str(huggingface_json(model_of(self), object_of(self).ids));
            return Py_BuildValue("(O(O))", maker.get(), data.get());
        }
        Ref maker = Ref::checked(PyObject_GetAttr(type, from_bytes_name.get()));
        Ref data = bytes_object(persist::model_file_bytes(model_of(self)));
        return Py_BuildValue("(O(O))", maker.get(), data.get());
    });
}

// ---- other libraries' formats --------------------------------------------------------------

constexpr MethodSignature kFromTiktoken{kClass,
                                        "from_tiktoken",
                                        {{"ranks"}, {"pattern"}, {"special_tokens", "None", true}},
                                        py::Receiver::Type};

PyObject* tokenizer_from_tiktoken(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kFromTiktoken, args, nargs, kwnames);
        return wrap(cls, tiktoken_model(bound[0].get(), bound[1].get(), bound[2].get()));
    });
}

constexpr MethodSignature kToTiktoken{kClass, "to_tiktoken", {{"path"}}};

PyObject* tokenizer_to_tiktoken(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kToTiktoken, args, nargs, kwnames);
        save_tiktoken(model_of(self), object_of(self).ids, to_path(bound[0].get(), "path"));
        return py::none().release();
    });
}

constexpr MethodSignature kFromHuggingface{
    kClass, "from_huggingface", {{"path"}}, py::Receiver::Type};

PyObject* tokenizer_from_huggingface(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kFromHuggingface, args, nargs, kwnames);
        return wrap(cls, huggingface_model(to_path(bound[0].get(), "path")));
    });
}

constexpr MethodSignature kFromHuggingfaceJson{
    kClass, "from_huggingface_json", {{"text"}}, py::Receiver::Type};

PyObject* tokenizer_from_huggingface_json(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kFromHuggingfaceJson, args, nargs, kwnames);
        const TextBytes text(bound[0].get(), "text");
        return wrap(cls, huggingface_model_of(text.view()));
    });
}

constexpr MethodSignature kToHuggingface{kClass, "to_huggingface", {{"path"}}};

PyObject* tokenizer_to_huggingface(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    return guarded([&] {
        const BoundArgs bound = py::bind_fastcall(kToHuggingface, args, nargs, kwnames);
        save_huggingface(model_of(self), object_of(self).ids, to_path(bound[0].get(), "path"));
        return py::none().release();
    });
}

constexpr MethodSignature kToHuggingfaceJson{kClass, "to_huggingface_json", {}};

PyObject* tokenizer_to_huggingface_json(PyObject* self, PyObject*) {
    return guarded([&] {
        return py::utf8_to_str(huggingface_json(model_of(self), object_of(self).ids)).release();
    });
}

// ---- the class -----------------------------------------------------------------------------

// A method's docstring: its signature line, then the text help() shows. Made once, when the
// table below is initialised, and kept for the life of the process.
const char* docstring(const MethodSignature& sig, std::string_view text) {
    static std::deque<std::string> kept;
    return kept.emplace_back(std::string(sig.doc()) + std::string(text)).c_str();
}

template <class F>
PyMethodDef method(const MethodSignature& sig, F* function, int flags, std::string_view text) {
    return {.ml_name = sig.name,
            .ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),
            .ml_flags = flags,
            .ml_doc = docstring(sig, text)};
}

constexpr int kFastcall = METH_FASTCALL | METH_KEYWORDS;
constexpr int kMaker = kFastcall | METH_CLASS;

PyMethodDef methods[] = {
    method(kTrain, tokenizer_train, kMaker,
           "Learn a tokenizer from text: a str (its UTF-8 bytes) or any bytes-like object.\n\n"
           "vocab_size counts every id: the 256 bytes, the rules learned and the special\n"
           "tokens, which take the ids after the rules in the order given. For a str the rules\n"
           "are exactly those of tessaron.BasicTokenizer(1).train(text, vocab_size -\n"
           "len(special_tokens)). Training stops early, without an error, when no pair of\n"
           "tokens is left.\n\n"
           "threads: how many threads count and merge pairs; the rules do not depend on it.\n"
           "progress: called with (rules_done, rules_wanted) on the calling thread about ten\n"
           "times a second and once at the end. Ctrl-C, or an exception from progress, stops\n"
           "training and is raised. The interpreter lock is released while training.\n"
           "pattern: \"gpt2\", \"cl100k\" or \"o200k\" (or the expression of one, run by a\n"
           "hand-written splitter), or any other regular expression in the syntax of Python's\n"
           "regex module, giving the pieces regex.finditer gives (whole matches; groups do not\n"
           "matter). Text that no match covers is kept as a piece of its own, where findall\n"
           "would drop it; empty matches make no piece. Look-behind, back-references and\n"
           "atomic groups are refused with ValueError. Pairs are counted only inside the\n"
           "pieces, the model keeps the pattern, and encoding then splits the same way.\n"
           "Training may then stop early, once every piece is one token."),
    method(kTrainFiles, tokenizer_train_files, kMaker,
           "Learn a tokenizer from the bytes of the files, concatenated in the order given.\n\n"
           "The files are read as bytes whatever they hold, without making a Python object of\n"
           "them. The other arguments are those of train()."),
    method(kLoad, tokenizer_load, kMaker,
           "The tokenizer stored in a model file (a str or os.PathLike path), as written by\n"
           "save() or by tessaron.BasicTokenizer.save_model. A file that cannot be read raises\n"
           "OSError with errno and filename set; a file that is not a model, or whose pattern\n"
           "cannot be run, raises ValueError."),
    method(kFromBytes, tokenizer_from_bytes, kMaker,
           "The tokenizer stored in the bytes of a model file, as to_bytes() gives them.\n"
           "Bytes that are not a model, or whose pattern cannot be run, raise ValueError."),
    method(kTokenBytes, tokenizer_token_bytes, kFastcall,
           "The bytes of the token with this id. An unknown id raises ValueError."),
    method(kEncode, tokenizer_encode, kFastcall,
           "The token ids of text: a str (its UTF-8 bytes) or any bytes-like object.\n\n"
           "allowed_special: \"all\" or a collection of the tokenizer's special tokens. Each\n"
           "allowed special token found in the text becomes its id (where several start at\n"
           "one place, the longest), and the text between them is encoded piece by piece.\n"
           "Special tokens that are not allowed are encoded as ordinary text. With none\n"
           "allowed, the ids are those of tessaron.BasicTokenizer.encode for the same model."),
    method(kEncodeBatch, tokenizer_encode_batch, kFastcall,
           "encode() of every text of an iterable, as a list of id lists in the same order.\n\n"
           "The texts are encoded without the interpreter lock on up to `threads` threads\n"
           "(None: one per processor this process may use)."),
    method(kEncodeBatchLines, tokenizer_encode_batch_lines, kFastcall,
           "encode_batch() written as text: for each text a line of its ids in decimal,\n"
           "separated by single spaces and ended by a line feed, all in one bytes object.\n"
           "The same threads; the ids are never made into Python ints."),
    method(kEncodeLines, tokenizer_encode_lines, kFastcall,
           "encode_batch_lines() of the lines of data (a str or any bytes-like object): a line\n"
           "ends at a line feed, which is not part of it, and a final line feed ends the last\n"
           "line rather than starting an empty one; a carriage return stays in its line. The\n"
           "output has one line per line of data, and decoding each gives it back."),
    method(kDecodeBytes, tokenizer_decode_bytes, kFastcall,
           "The exact bytes of the tokens, joined: decode_bytes(encode(b)) == b for any bytes.\n"
           "The first unknown id raises ValueError."),
    method(kDecode, tokenizer_decode, kFastcall,
           "The joined bytes of the tokens decoded as UTF-8 with the given error handler, so\n"
           "decode(encode(s)) == s for every str without lone surrogates. The first unknown\n"
           "id raises ValueError."),
    method(kDecodeBatch, tokenizer_decode_batch, kFastcall,
           "decode() of every id sequence of an iterable, as a list of str in the same order."),
    method(kToBytes, tokenizer_to_bytes, METH_NOARGS,
           "The model file's bytes: what save() writes."),
    method(kSave, tokenizer_save, kFastcall,
           "Write the model file to path (a str or os.PathLike). An old file there is replaced\n"
           "whole: after a failure it is as it was. Errors raise OSError with errno and\n"
           "filename."),
    method(kReduce, tokenizer_reduce, METH_NOARGS,
           "Pickling and copying go through the model file's bytes, or through\n"
           "to_huggingface_json() for a tokenizer whose ids no model file holds."),
    method(kFromTiktoken, tokenizer_from_tiktoken, kMaker,
           "The tokenizer of a tiktoken rank table: a rank file's path (each token's bytes in\n"
           "base64, a space and its rank, a line each) or a dict of bytes to rank.\n\n"
           "pattern: \"gpt2\", \"cl100k\" or \"o200k\", or the expression of one of them.\n"
           "special_tokens: a dict of str to id, ids beside the ranks.\n"
           "Every token longer than a byte must be made by merging two tokens of lower rank,\n"
           "found by merging its bytes as tiktoken does; a table with a token that cannot\n"
           "(tiktoken reaches those only as a whole piece) is refused with ValueError. The\n"
           "ids are tiktoken's: encode gives, and decode, decode_bytes and token_bytes take,\n"
           "the ranks. Such a tokenizer saves with to_tiktoken() or to_huggingface(); save()\n"
           "and to_bytes() refuse it."),
    method(kToTiktoken, tokenizer_to_tiktoken, kFastcall,
           "Write the rank file of the bytes and rule tokens, ranked by their ids; an old file\n"
           "there is replaced whole. Special tokens are no part of a rank file. ValueError when\n"
           "tiktoken's merging by rank would not give this tokenizer's rules (a token that\n"
           "ranks would make from other parts than its rule's)."),
    method(kFromHuggingface, tokenizer_from_huggingface, kMaker,
           "The tokenizer of a Hugging Face tokenizer.json of byte-level BPE: its vocabulary,\n"
           "merges (\"a b\" or [\"a\", \"b\"]) and added tokens, which become special tokens\n"
           "(allowed_special=\"all\" finds them in text as Hugging Face does). The\n"
           "pre-tokenizer must be ByteLevel without add_prefix_space (GPT-2's pattern when\n"
           "it uses its regex), or a Sequence of an Isolated Split by a regex and ByteLevel\n"
           "without its regex. Whatever else would change the ids (normalizers, dropout,\n"
           "byte_fallback, ignore_merges, word prefixes or suffixes, post-processors that add\n"
           "tokens, a regex Hugging Face reads otherwise than the pattern engine: ^, $, \\Z,\n"
           "the flags m and s, {m,n}+) raises ValueError naming the file and the place.\n"
           "The ids are the file's; a tokenizer whose ids are not those of a model file\n"
           "saves with to_huggingface() or to_tiktoken(), and save() and to_bytes() refuse it."),
    method(kFromHuggingfaceJson, tokenizer_from_huggingface_json, kMaker,
           "from_huggingface() of the text of a tokenizer.json (str or bytes)."),
    method(kToHuggingface, tokenizer_to_huggingface, kFastcall,
           "Write a tokenizer.json that Hugging Face tokenizers loads and encodes to the same\n"
           "ids; an old file there is replaced whole. ValueError when an id is above 2**32 - 1,\n"
           "the rules do not apply in the order of the ids they make, or Hugging Face would\n"
           "read the split pattern otherwise."),
    method(kToHuggingfaceJson, tokenizer_to_huggingface_json, METH_NOARGS,
           "The text to_huggingface() writes."),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getters[] = {
    {"vocab_size", get_vocab_size, nullptr,
     "Number of token ids: the 256 bytes, the rules and the special tokens.", nullptr},
    {"merges", get_merges, nullptr,
     "The rules as (left id, right id) pairs, in learning order; the rule at index k\n"
     "makes the id 256 + k in a trained model. For a model from tiktoken or Hugging Face\n"
     "the ids are the model's own and the rules are in the order they apply.",
     nullptr},
    {"special_tokens", get_special_tokens, nullptr,
     "The special tokens: text -> id, in the order they were given.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(docstring(
                    kNew,
                    "A byte-level BPE tokenizer. Tokenizer() knows the 256 single bytes; the\n"
                    "class methods train, train_files, load and from_bytes make the others.\n"
                    "A tokenizer never changes once made, so threads may share one freely.\n"
                    "It reads and writes the model files of tessaron.BasicTokenizer and gives\n"
                    "the same ids for the same model and text."))},
    {Py_tp_new, reinterpret_cast<void*>(tokenizer_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(tokenizer_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(tokenizer_repr)},
    {Py_sq_length, reinterpret_cast<void*>(tokenizer_len)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getters},
    {0, nullptr},
};

PyType_Spec spec = {
    .name = "tessaron_tools.Tokenizer",
    .basicsize = sizeof(TokenizerObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = slots,
};

}  // namespace

PyObject* make_tokenizer_type() { return PyType_FromSpec(&spec); }

}  // namespace tessaron::tools
