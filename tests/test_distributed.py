"""The distributed recipe on a local cluster of worker processes, against one process."""

import pytest

pytest.importorskip("distributed")

import dask.bag as db  # noqa: E402
from dask.distributed import Client, LocalCluster  # noqa: E402

import tessaron  # noqa: E402
from tessaron_cli.distributed import TokenizerPlugin, encode_partition  # noqa: E402

LINES = [f"{i} the cluster encodes line {i} of the corpus, déjà vu {i * i}\n" for i in range(2000)]


def test_dask_bag_ids_equal_single_process(tmp_path):
    tok = tessaron.BasicTokenizer()
    tok.train("".join(LINES[:500]), 400)
    model = tmp_path / "m.model"
    tok.save_model(str(model))
    expected = [tok.encode(line) for line in LINES]

    with (
        LocalCluster(
            n_workers=3, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster,
        Client(cluster) as client,
    ):
        client.register_plugin(TokenizerPlugin(str(model)))
        bag = db.from_sequence(LINES, npartitions=12).map_partitions(encode_partition)
        assert bag.compute() == expected
        # Each worker loaded the model once, however many partitions it encoded.
        loaded = client.run(
            lambda dask_worker: dask_worker.plugins["tessaron-tokenizer"].tokenizer is not None
        )
        assert len(loaded) == 3 and all(loaded.values())
