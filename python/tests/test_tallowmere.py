"""The Python module over the shared library: collections, fortune files and their errors."""

import pytest

import tallowmere

SAYINGS = "Short and sweet.\n%\n\n%\nThe kettle knows.\n%\n" + "x" * 200 + "\n"


@pytest.fixture
def sayings(tmp_path):
    path = tmp_path / "sayings"
    path.write_text(SAYINGS)
    return str(path)


def test_draws_from_the_search_path_and_from_operands(tmp_path, sayings, monkeypatch):
    monkeypatch.setenv("TALLOWMERE_PATH", str(tmp_path))
    drawn = tallowmere.Collection().draw(short=True)
    assert (drawn.path, drawn.text) in {(sayings, "Short and sweet."),
                                        (sayings, "The kettle knows.")}

    collection = tallowmere.Collection(sayings)
    long_one = collection.draw(long=True)
    assert (long_one.path, long_one.number, long_one.text) == (sayings, 3, "x" * 200)
    assert len({collection.draw(seed=7).text for _ in range(5)}) == 1
    assert collection.read(sayings, 2).text == "The kettle knows."
    assert (len(collection), collection.count(short=True), collection.file_count) == (3, 2, 1)


def test_iterates_over_fortunes_and_matches(sayings):
    collection = tallowmere.Collection(sayings)
    assert [f.text for f in collection] == ["Short and sweet.", "The kettle knows.", "x" * 200]
    assert [(f.number, f.text) for f in collection.matches("KETTLE", ignore_case=True)] == [
        (2, "The kettle knows.")]
    assert list(collection.matches("kettle", long=True)) == []


def test_failures_are_errors_with_a_reason_and_a_path(tmp_path, sayings):
    missing = str(tmp_path / "missing")
    with pytest.raises(tallowmere.NotFoundError) as caught:
        tallowmere.FortuneFile(missing)
    assert caught.value.reason == tallowmere.Reason.NOT_FOUND
    assert caught.value.path == missing
    assert isinstance(caught.value, FileNotFoundError)

    with pytest.raises(tallowmere.BadArgumentError):
        tallowmere.Collection("120%", sayings)
    with pytest.raises(tallowmere.BadPatternError, match="bad regular expression"):
        list(tallowmere.Collection(sayings).matches("("))
    with pytest.raises(tallowmere.Error) as caught:
        tallowmere.Collection(str(tmp_path / "empty-dir-does-not-exist"))
    assert str(caught.value.reason) == "not found"
    with pytest.raises(tallowmere.UsageError):
        tallowmere.FortuneFile(sayings, delimiter="\n")


def test_a_fortune_file_appends_counts_and_indexes(tmp_path):
    path = tmp_path / "mine"
    with tallowmere.FortuneFile(path, writable=True) as mine:
        mine.append("Never trust a quiet printer.")
        mine.append("Two lines,\nboth true.")
        assert len(mine) == 2
        assert (mine[0], mine[-1]) == ("Never trust a quiet printer.", "Two lines,\nboth true.")
        assert mine[0:2] == list(mine)
        with pytest.raises(IndexError):
            mine[2]
    assert path.read_text() == "Never trust a quiet printer.\n%\nTwo lines,\nboth true.\n"
    with pytest.raises(tallowmere.Error):
        tallowmere.FortuneFile(path).append("Read-only handles never write.")
    assert len(tallowmere.FortuneFile(path)) == 2


def test_a_damaged_index_is_reported_and_mended(tmp_path):
    path = tmp_path / "mine"
    path.write_text("One.\n%\nTwo.\n")
    (tmp_path / "mine.ix").write_bytes(b"garbage, not an index")
    assert tallowmere.FortuneFile(path)[1] == "Two."  # read around in memory
    with tallowmere.FortuneFile(path, writable=True) as mine:
        report = mine.check()
        assert report.state == tallowmere.IndexState.DAMAGED and report.detail
        mine.rebuild_index()
        assert mine.check() == tallowmere.IndexReport(tallowmere.IndexState.SOUND, "", 0, 2)
    with pytest.raises(tallowmere.UsageError):
        len(mine)
