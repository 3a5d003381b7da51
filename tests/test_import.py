import ostrevane


def test_package_imports():
    assert hasattr(ostrevane, "__all__")
