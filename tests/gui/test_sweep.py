"""What a killed player leaves, the next player removes, and nothing else:
not a running player's folders, not look-alikes, not what a link points
to."""

import os
import shutil
import signal
import time

from guitest import SessionTest, color, main, pack_tour, tour_files, tree

ORANGE = color("#ff8000")
PAGE = """<html><head><title>Tour page</title></head>
<body style="margin: 0; height: 100%; background: #ff8000"></body></html>"""


class SweepTest(SessionTest):

    def tour(self, name):
        return pack_tour(self.player, os.path.join(self.session.work, name),
                         tour_files(name, PAGE, 400, 300))

    def play(self, name):
        s = self.session
        proc = s.start([self.tour(name)])
        window = s.wait_window("^%s  -  Morva$" % name)
        self.assertEqual(s.wait_pixel(window, 200, 150, ORANGE), ORANGE)
        return proc, window

    def kill(self, proc):
        proc.send_signal(signal.SIGKILL)
        proc.wait()

    def names(self):
        return set(os.listdir(self.session.tmp))

    def wait_gone(self, names, timeout=10):
        deadline = time.monotonic() + timeout
        while names & self.names() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(names & self.names(), set())

    def close(self, *players):
        for proc, window in players:
            self.session.request_close(window)
            self.assertEqual(proc.wait(timeout=10), 0)

    def test_the_next_start_removes_what_a_killed_player_left(self):
        proc, _ = self.play("First")
        left = self.names()
        # Its private folder with the owner file, and its work folder.
        self.assertEqual(len(left), 2, left)
        self.assertEqual(len([n for n in left if n.startswith("QZP")]), 1)
        self.kill(proc)
        self.assertEqual(self.names(), left)
        second = self.play("Second")
        self.wait_gone(left)
        self.assertEqual(len(self.names()), 2)
        self.close(second)
        self.assertEqual(self.session.leftovers(), [])

    def test_a_running_players_folders_stay(self):
        live = self.play("Live")
        live_names = self.names()
        work = [n for n in live_names if not n.startswith("QZP")][0]
        work_tree = tree(os.path.join(self.session.tmp, work))
        killed, _ = self.play("Killed")
        killed_names = self.names() - live_names
        self.kill(killed)
        third = self.play("Third")
        self.wait_gone(killed_names)
        self.assertLessEqual(live_names, self.names())
        self.assertEqual(tree(os.path.join(self.session.tmp, work)), work_tree)
        self.close(live, third)
        self.assertEqual(self.session.leftovers(), [])

    def empty_tmp(self):
        for name in os.listdir(self.session.tmp):
            path = os.path.join(self.session.tmp, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.remove(path)

    def test_look_alikes_and_links_stay(self):
        s = self.session
        tmp = s.tmp
        self.addCleanup(self.empty_tmp)

        def plant(path, data="x", mode=0o700):
            full = os.path.join(tmp, path)
            os.makedirs(os.path.dirname(full), mode=mode, exist_ok=True)
            with open(full, "w") as f:
                f.write(data)

        # A folder that merely looks like a player's, a private folder with
        # no proof in it, one open to others, a proof behind a link, and
        # (as root) a stale player's folders that another user owns.
        victim = os.path.join(s.work, "victim")
        os.makedirs(victim)
        plant(os.path.join(victim, "keep"))
        plant("QZ12345678.tmp/keep")
        plant("QZP00000001.tmp/owner", "not a proof\n")
        plant("QZP00000002.tmp/owner", "morva player folders 1\n", 0o755)
        os.chmod(os.path.join(tmp, "QZP00000002.tmp"), 0o755)
        os.symlink(victim, os.path.join(tmp, "QZP00000003.tmp"))
        foreign = set()
        if os.geteuid() == 0:
            proc, _ = self.play("Foreign")
            foreign = self.names() - {"QZ12345678.tmp", "QZP00000001.tmp",
                                      "QZP00000002.tmp", "QZP00000003.tmp"}
            self.kill(proc)
            for name in foreign:
                os.lchown(os.path.join(tmp, name), 65534, 65534)
        # A killed player whose work folder became a link, with a link in
        # its private folder too.
        before = self.names()
        proc, _ = self.play("Killed")
        killed = self.names() - before
        self.kill(proc)
        private = [n for n in killed if n.startswith("QZP")][0]
        work = [n for n in killed if n != private][0]
        os.rename(os.path.join(tmp, work), os.path.join(s.work, "moved"))
        os.symlink(os.path.join(s.work, "moved"), os.path.join(tmp, work))
        os.symlink(victim, os.path.join(tmp, private, "cache", "escape"))
        planted = {p: tree(os.path.join(tmp, p)) for p in before}

        player = self.play("Next")
        self.wait_gone(killed)
        self.assertEqual({p: tree(os.path.join(tmp, p)) for p in before},
                         planted)
        self.assertEqual(tree(victim), ["keep"])
        self.assertIn("_flash/qzviewer.swf", tree(os.path.join(s.work,
                                                               "moved")))
        self.close(player)
        self.assertEqual(self.names(), before)


if __name__ == "__main__":
    main()
