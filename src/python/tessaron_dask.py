"""Encoding a corpus on a Dask cluster: the model travels to every worker, which loads it once.

    from dask.distributed import Client
    import dask.bag as db
    from tessaron_dask import TokenizerPlugin, encode_partition

    client = Client("scheduler-address:8786")
    client.register_plugin(TokenizerPlugin("out/stdlib.model"))
    lines = db.read_text("corpus/*.txt", linedelimiter="\\n")
    ids = lines.map_partitions(encode_partition)

Workers need the tessaron package, not the model file: the plugin carries the file's bytes.
Lines are encoded as `tessaron encode` encodes them, so the ids are the same.
"""

import os
from typing import Iterable, List, Optional, Union

from distributed import WorkerPlugin, get_worker

from tessaron_cli.lines import strip_line_end
from tessaron_tools import Tokenizer

PLUGIN_NAME = "tessaron-tokenizer"


class TokenizerPlugin(WorkerPlugin):
    name = PLUGIN_NAME

    def __init__(self, model_path: Union[str, "os.PathLike[str]"]):
        with open(model_path, "rb") as f:
            self.model = f.read()
        self.tokenizer: Optional[Tokenizer] = None

    def setup(self, worker) -> None:
        self.tokenizer = Tokenizer.from_bytes(self.model)


def encode_partition(lines: Iterable[str]) -> List[List[int]]:
    """Token ids of each line of one partition (its line feed, if any, not encoded)."""
    plugin = get_worker().plugins[PLUGIN_NAME]
    assert isinstance(plugin, TokenizerPlugin) and plugin.tokenizer is not None
    return plugin.tokenizer.encode_batch([strip_line_end(line) for line in lines], threads=1)
