// The Flash sample tour's viewer movie: shows a panorama picture from the
// package, pans it with the arrow keys and by dragging, walks to the other
// scene through a hotspot, and has a button that asks the player to close
// (getURL of "app:close", which the player swallows).
//
// Compiled to an ActionScript 3 movie with Haxe:
//   haxe -cp src -main Main -swf qzviewer.swf -swf-version 10 \
//        -swf-header 800:600:30:336699
//
// The pictures are loaded with relative addresses, which resolve against
// the page that embeds the movie, as in the Flash Player; the page and the
// movie share a folder, so they resolve against the movie's folder too.
import flash.display.BitmapData;
import flash.display.Loader;
import flash.display.Sprite;
import flash.display.StageAlign;
import flash.display.StageScaleMode;
import flash.events.Event;
import flash.events.IOErrorEvent;
import flash.events.KeyboardEvent;
import flash.events.MouseEvent;
import flash.geom.Matrix;
import flash.net.URLRequest;
import flash.text.TextField;
import flash.text.TextFormat;

typedef Scene = {
  var title:String;
  var picture:String;
  // The hotspot's centre in picture pixels, and the scene it leads to.
  var spotX:Int;
  var spotY:Int;
  var next:Int;
};

class Main extends Sprite {
  static inline var PAN_STEP = 100;
  static inline var SPOT_RADIUS = 40;
  static var SCENES:Array<Scene> = [
    {title: "Courtyard", picture: "scene/courtyard.jpg", spotX: 500, spotY: 450, next: 1},
    {title: "Harbour", picture: "scene/harbour.jpg", spotX: 500, spotY: 450, next: 0}
  ];

  var picture:BitmapData;
  var scene:Int = 0;
  var panX:Float = 0;
  var panY:Float = 0;
  var dragging = false;
  var lastKey:KeyboardEvent;
  var dragX:Float = 0;
  var dragY:Float = 0;
  var panorama = new Sprite();
  var spot = new Sprite();
  var closeButton = new Sprite();
  var caption = new TextField();

  static function main() {
    flash.Lib.current.addChild(new Main());
  }

  function new() {
    super();
    addEventListener(Event.ADDED_TO_STAGE, start);
  }

  function start(_:Event) {
    stage.scaleMode = StageScaleMode.NO_SCALE;
    stage.align = StageAlign.TOP_LEFT;
    addChild(panorama);
    addChild(spot);
    addChild(caption);
    addChild(closeButton);

    spot.graphics.lineStyle(6, 0xffffff);
    spot.graphics.beginFill(0xffd700);
    spot.graphics.drawCircle(0, 0, SPOT_RADIUS);
    spot.graphics.endFill();
    spot.buttonMode = true;
    spot.addEventListener(MouseEvent.CLICK, function(_) show(SCENES[scene].next));

    drawCloseButton(0x962828);
    closeButton.buttonMode = true;
    closeButton.addEventListener(MouseEvent.CLICK, function(_) {
      drawCloseButton(0x2e8b57);  // pressed: the page can tell
      flash.Lib.getURL(new URLRequest("app:close"), "_self");
    });

    caption.defaultTextFormat = new TextFormat("_sans", 20, 0xffffff, true);
    caption.selectable = false;
    caption.x = 16;
    caption.y = 12;
    caption.width = 400;
    caption.height = 32;

    // Keys go to the object that has the focus (the last one clicked),
    // which may not pass them on to the stage: listen on the way down too.
    stage.addEventListener(KeyboardEvent.KEY_DOWN, onKey);
    stage.addEventListener(KeyboardEvent.KEY_DOWN, onKey, true);
    panorama.addEventListener(MouseEvent.MOUSE_DOWN, function(e:MouseEvent) {
      dragging = true;
      dragX = e.stageX;
      dragY = e.stageY;
    });
    stage.addEventListener(MouseEvent.MOUSE_MOVE, function(e:MouseEvent) {
      if (!dragging) return;
      pan(dragX - e.stageX, dragY - e.stageY);
      dragX = e.stageX;
      dragY = e.stageY;
    });
    stage.addEventListener(MouseEvent.MOUSE_UP, function(_) dragging = false);
    stage.addEventListener(Event.RESIZE, function(_) draw());
    show(0);
  }

  function drawCloseButton(colour:Int) {
    var g = closeButton.graphics;
    g.clear();
    g.lineStyle(2, 0xffffff);
    g.beginFill(colour);
    g.drawRect(0, 0, 80, 40);
    g.endFill();
    // An X, so the button needs no font.
    g.lineStyle(4, 0xffffff);
    g.moveTo(28, 8);
    g.lineTo(52, 32);
    g.moveTo(52, 8);
    g.lineTo(28, 32);
    closeButton.x = stage.stageWidth - 100;
    closeButton.y = 20;
  }

  function show(index:Int) {
    scene = index;
    var loader = new Loader();
    loader.contentLoaderInfo.addEventListener(Event.COMPLETE, function(_) {
      picture = cast(loader.content, flash.display.Bitmap).bitmapData;
      panX = 0;
      panY = (picture.height - stage.stageHeight) / 2;
      caption.text = SCENES[scene].title;
      draw();
    });
    loader.contentLoaderInfo.addEventListener(IOErrorEvent.IO_ERROR, function(_) {
      caption.text = "Cannot load " + SCENES[scene].picture;
    });
    loader.load(new URLRequest(SCENES[scene].picture));
  }

  function onKey(e:KeyboardEvent) {
    if (e == lastKey) return;  // heard on the way down and up
    lastKey = e;
    switch (e.keyCode) {
      case 37: pan(-PAN_STEP, 0);  // left
      case 38: pan(0, -PAN_STEP);  // up
      case 39: pan(PAN_STEP, 0);   // right
      case 40: pan(0, PAN_STEP);   // down
      default:
    }
  }

  function pan(dx:Float, dy:Float) {
    if (picture == null) return;
    // Round the picture horizontally; up and down stop at its edges.
    panX = ((panX + dx) % picture.width + picture.width) % picture.width;
    panY = Math.max(0, Math.min(picture.height - stage.stageHeight, panY + dy));
    draw();
  }

  function draw() {
    if (picture == null) return;
    var width = stage.stageWidth;
    var height = stage.stageHeight;
    var g = panorama.graphics;
    g.clear();
    var m = new Matrix();
    m.translate(-panX, -panY);
    g.beginBitmapFill(picture, m, true, false);
    g.drawRect(0, 0, width, height);
    g.endFill();

    var s = SCENES[scene];
    var x = ((s.spotX - panX) % picture.width + picture.width) % picture.width;
    if (x > width + SPOT_RADIUS) x -= picture.width;
    spot.x = x;
    spot.y = s.spotY - panY;
    closeButton.x = width - 100;
  }
}
