"""Whole-program tests that talk to the run's mock service, each start on the
scripted browser runtime with a session folder of its own."""
import tempfile

import mockservice
import scripted
from programs import ScriptedStartTest


class ServiceStartTest(ScriptedStartTest):
    """The mock service is self.mock; the base class resets it before each test."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.mock = mockservice.shared()

    def new_session(self, **options):
        """A scripted browser session in a folder of its own under the class's."""
        return scripted.Session(tempfile.mkdtemp(dir=self.folder.name), **options)

    def start(self, *args, script=None):
        """Miravell.exe with these arguments on a session of its own, which it returns."""
        self.session = self.new_session(script=script)
        self.start_player(args, env=self.session.env)
        return self.session
