"""Encoding a corpus on a Dask cluster: the model travels to every worker, which loads it once.

    from dask.distributed import Client
    import dask.bag as db
    from tessaron_cli.distributed import TokenizerPlugin, encode_partition

    client = Client("scheduler-address:8786")
    client.register_plugin(TokenizerPlugin("out/stdlib.model"))
    ids = db.read_text("s3://corpus/*.txt", linedelimiter="\\n").map_partitions(encode_partition)

Workers need the tessaron package, not the model file: the plugin carries the file's bytes.
"""

import os
import tempfile
from typing import Iterable, List, Optional

from distributed import WorkerPlugin, get_worker

import tessaron

PLUGIN_NAME = "tessaron-tokenizer"


class TokenizerPlugin(WorkerPlugin):
    name = PLUGIN_NAME

    def __init__(self, model_path: str):
        with open(model_path, "rb") as f:
            self.model = f.read()
        self.tokenizer: Optional[tessaron.BasicTokenizer] = None

    def setup(self, worker) -> None:
        # load() reads a path, so the bytes go to a private file first.
        fd, path = tempfile.mkstemp(suffix=".model")
        try:
            with os.fdopen(fd, "wb") as f:
                f.write(self.model)
            tokenizer = tessaron.BasicTokenizer()
            tokenizer.load(path)
        finally:
            os.unlink(path)
        self.tokenizer = tokenizer


def encode_partition(texts: Iterable[str]) -> List[List[int]]:
    """Token ids of each text of one partition, with this worker's tokenizer."""
    plugin = get_worker().plugins[PLUGIN_NAME]
    assert isinstance(plugin, TokenizerPlugin) and plugin.tokenizer is not None
    return [plugin.tokenizer.encode(text) for text in texts]
