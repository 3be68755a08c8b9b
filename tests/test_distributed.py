"""The cluster recipe on a local cluster of worker processes, against `tessaron encode`."""

import subprocess
import sys

import pytest

pytest.importorskip("distributed")

import dask.bag as db  # noqa: E402
from dask.distributed import Client, LocalCluster  # noqa: E402

import tessaron  # noqa: E402
from tessaron_dask import TokenizerPlugin, encode_partition  # noqa: E402

# CR LF, tabs, a last line without its line feed: line ends are where the ids could differ.
TEXT = (
    "".join(
        f"{i} the cluster encodes line {i}\tof the corpus, déjà vu {i * i}\r\n" for i in range(1000)
    )
    + "".join(f"{i} plain line\n" for i in range(1000))
    + "last, no line feed"
)


def test_cluster_ids_equal_the_command_line(tmp_path):
    tok = tessaron.BasicTokenizer()
    tok.train(TEXT[:20_000], 400)
    model = tmp_path / "m.model"
    tok.save_model(str(model))
    corpus = tmp_path / "corpus.txt"
    corpus.write_bytes(TEXT.encode("utf-8"))
    r = subprocess.run(
        [sys.executable, "-m", "tessaron_cli", "encode", "-m", str(model), str(corpus)],
        capture_output=True,
        check=True,
    )
    expected = [[int(i) for i in line.split()] for line in r.stdout.decode().splitlines()]

    with (
        LocalCluster(
            n_workers=3, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster,
        Client(cluster) as client,
    ):
        client.register_plugin(TokenizerPlugin(model))
        # Without linedelimiter, reading translates CR LF to LF.
        lines = db.read_text(str(corpus), blocksize=20_000, linedelimiter="\n")
        assert lines.npartitions > 3
        assert lines.map_partitions(encode_partition).compute() == expected
        # Each worker loaded the model once, however many partitions it encoded.
        loaded = client.run(
            lambda dask_worker: dask_worker.plugins["tessaron-tokenizer"].tokenizer is not None
        )
        assert len(loaded) == 3 and all(loaded.values())
