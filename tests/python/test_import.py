import tovarn


def test_imports():
    assert tovarn.__name__ == "tovarn"
